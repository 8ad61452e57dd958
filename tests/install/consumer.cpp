// SPDX-License-Identifier: BSD-3-Clause
// The installed C++ header through the CMake package.
#include <cstdio>
#include <vector>

#include <trueanomaly.hpp>

int main() {
  const std::vector<float> mean = {1.0f, 7.0f};
  std::vector<float> nu(mean.size());
  const auto status = libtrueanomaly::convert(mean, 0.0f, nu, 100, 0);
  const std::optional<float> minus_one = libtrueanomaly::true_anomaly(-1.0f, 0.0f, 100, 0);
  std::printf("C++: %.9g %.9g, M = -1: %.9g\n", double(nu[0]), double(nu[1]),
              double(minus_one.value_or(0.0f)));
  return status == libtrueanomaly::status::ok && nu[1] == -5.56637049f && minus_one == -1.0f ? 0 : 1;
}
