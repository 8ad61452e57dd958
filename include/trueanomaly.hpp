/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * libtrueanomaly for C++17: header-only, everything inline, nothing exported.
 *
 *   #include <trueanomaly.hpp>
 *
 *   std::optional<float> nu = libtrueanomaly::true_anomaly(1.0f, 0.5f, 100, 0);
 *
 *   std::vector<float> m = ..., out(m.size());
 *   if (libtrueanomaly::convert(m, 0.5f, out, 100, 0) != libtrueanomaly::status::ok) ...
 *
 * Results are those of the C entries, bit for bit (see trueanomaly.h for the
 * meaning of the limit and the tolerance). The ranges are anything contiguous
 * with data() and size() over float (std::vector, std::array, std::span,
 * C arrays) or a pointer and a size.
 *
 * Every function that reports an outcome is [[nodiscard]]: a status or an
 * optional that is dropped is a failure nobody sees.
 *
 * Sizes above INT32_MAX, which one C call cannot take, are converted in
 * consecutive calls of at most INT32_MAX elements. The contract does not
 * change: the first element that reaches the iteration limit stops the whole
 * conversion, outputs before it are written, it and everything after it are
 * left as they were.
 */
#ifndef TRUEANOMALY_HPP
#define TRUEANOMALY_HPP

#if !defined(__cplusplus) || \
    (__cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L))
#error "trueanomaly.hpp needs C++17 or later (e.g. -std=c++17); from C++14 or C, use trueanomaly.h"
#else  // the rest only where it can compile, so the line above is the only error

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <type_traits>
#include <utility>

#include "trueanomaly.h"

namespace libtrueanomaly {

enum class status : int32_t {
  ok = 0,
  // An element reached the iteration limit; see the header comment.
  iteration_limit = -1,
  // Nothing was read or written: a null address with a positive size, an
  // output shorter than the input, or input and output overlapping without
  // being the same array.
  invalid_argument = -2,
};

// A contiguous run of T (float or const float), viewed, not owned.
template <class T>
class float_range {
 public:
  constexpr float_range() noexcept = default;
  constexpr float_range(T *data, std::size_t size) noexcept : data_(data), size_(size) {}
  // std::vector, std::array, std::span, C arrays, ... of float. An output
  // range (T = float) takes a container only as a modifiable lvalue; a view
  // such as std::span<float> may also be a temporary.
  template <class C,
            class P = decltype(std::data(std::declval<C &>())),
            class = std::enable_if_t<std::is_convertible_v<P, T *> &&
                                     std::is_same_v<std::remove_cv_t<std::remove_pointer_t<P>>,
                                                    float>>,
            class = std::enable_if_t<!std::is_same_v<std::decay_t<C>, float_range>>>
  constexpr float_range(C &&c) noexcept(noexcept(std::data(c)) && noexcept(std::size(c)))
      : data_(std::data(c)), size_(static_cast<std::size_t>(std::size(c))) {
    static_assert(std::is_const_v<T> || std::is_lvalue_reference_v<C> ||
                      std::is_convertible_v<decltype(std::data(std::declval<const C &>())), T *>,
                  "an output range must not be a temporary container");
  }
  constexpr T *data() const noexcept { return data_; }
  constexpr std::size_t size() const noexcept { return size_; }

 private:
  T *data_ = nullptr;
  std::size_t size_ = 0;
};

using input_range = float_range<const float>;
using output_range = float_range<float>;

namespace detail {

constexpr std::size_t max_chunk = static_cast<std::size_t>(INT32_MAX);

// The conversion in consecutive C calls of at most `chunk` elements
// (1 <= chunk <= max_chunk); stops at the first failing call.
[[nodiscard]] inline status convert_chunked(const float *in, std::size_t count,
                                            float eccentricity, float *out,
                                            int32_t max_iterations, int32_t tolerance,
                                            std::size_t chunk) noexcept {
  if (count == 0) return status::ok;
  if (in == nullptr || out == nullptr) return status::invalid_argument;
  if (in != out) {
    // Partial overlap would feed results back in as inputs.
    const std::less<const float *> before;
    if (before(in, out + count) && before(out, in + count)) return status::invalid_argument;
  }
  for (std::size_t done = 0; done < count;) {
    const std::size_t n = count - done < chunk ? count - done : chunk;
    if (trueanomaly_array(in + done, static_cast<int32_t>(n), eccentricity, out + done,
                          max_iterations, tolerance) != 0)
      return status::iteration_limit;
    done += n;
  }
  return status::ok;
}

}  // namespace detail

// Converts in[0 .. size-1] into out[0 .. size-1] in index order.
[[nodiscard]] inline status convert(const float *in, std::size_t size, float eccentricity,
                                    float *out, int32_t max_iterations,
                                    int32_t tolerance) noexcept {
  return detail::convert_chunked(in, size, eccentricity, out, max_iterations, tolerance,
                                 detail::max_chunk);
}

// Converts every element of `in` into the first in.size() elements of `out`;
// `out` may be longer (the rest is untouched) but not shorter.
[[nodiscard]] inline status convert(input_range in, float eccentricity, output_range out,
                                    int32_t max_iterations, int32_t tolerance) noexcept {
  if (out.size() < in.size()) return status::invalid_argument;
  return convert(in.data(), in.size(), eccentricity, out.data(), max_iterations, tolerance);
}

// Replaces every mean anomaly in `values` by its true anomaly.
[[nodiscard]] inline status convert_in_place(output_range values, float eccentricity,
                                             int32_t max_iterations,
                                             int32_t tolerance) noexcept {
  return convert(values.data(), values.size(), eccentricity, values.data(), max_iterations,
                 tolerance);
}

// One true anomaly, or std::nullopt when the iteration limit is reached; a
// true anomaly of -1 radian comes back as -1.0f, not as a failure. The
// scalar entry does the work; only its -1.0f, which is both a result and the
// failure sentinel, is asked again of the array entry, which tells them apart.
[[nodiscard]] inline std::optional<float> true_anomaly(float mean_anomaly, float eccentricity,
                                                       int32_t max_iterations,
                                                       int32_t tolerance) noexcept {
  const float result = trueanomaly(mean_anomaly, eccentricity, max_iterations, tolerance);
  if (result != -1.0f) return result;
  float checked;
  if (trueanomaly_array(&mean_anomaly, 1, eccentricity, &checked, max_iterations, tolerance) != 0)
    return std::nullopt;
  return checked;
}

}  // namespace libtrueanomaly

#endif  // C++17
#endif /* TRUEANOMALY_HPP */
