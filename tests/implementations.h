// SPDX-License-Identifier: BSD-3-Clause
// The library's implementations (src/implementation.h) as the tests,
// fuzzer, benchmark and tools iterate them: each by the address of its
// object, named and numbered by its place in kImplementations.
#ifndef TRUEANOMALY_TESTS_IMPLEMENTATIONS_H
#define TRUEANOMALY_TESTS_IMPLEMENTATIONS_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <string_view>
#include <vector>

#include "dispatch.h"
#include "implementation.h"

// A path: one implementation, by the address of its object.
using Path = const trueanomaly_detail::Implementation *;

// Every implementation this build has, narrowest first.
inline std::vector<Path> every_implementation() {
  return {std::begin(trueanomaly_detail::kImplementations),
          std::end(trueanomaly_detail::kImplementations)};
}

// Its place in the list: the same on every build that has it.
inline uint64_t index_of(Path implementation) {
  const auto &list = trueanomaly_detail::kImplementations;
  for (size_t i = 0; i < std::size(list); ++i)
    if (list[i] == implementation) return i;
  return std::size(list);
}

inline const char *name(Path implementation) { return implementation->name; }

// The implementation named `name`, or null.
inline Path implementation_named(const char *wanted) {
  for (Path implementation : every_implementation())
    if (std::string_view(implementation->name) == wanted) return implementation;
  return nullptr;
}

inline bool available(Path implementation) {
  return trueanomaly_detail::available(*implementation);
}

namespace trueanomaly_detail {
// GoogleTest prints a parameter by its name.
inline void PrintTo(const Implementation *implementation, std::ostream *os) {
  *os << implementation->name;
}
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_TESTS_IMPLEMENTATIONS_H
