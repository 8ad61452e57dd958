// SPDX-License-Identifier: BSD-3-Clause
// Converts a small catalogue with the C++ header: whole ranges, in place, and
// a scalar form that tells failure apart from a true anomaly of -1 radian.
#include <array>
#include <cstdio>
#include <optional>
#include <tuple>
#include <vector>

#include "trueanomaly.hpp"

int main() {
  namespace ta = libtrueanomaly;

  const std::vector<float> mean = {0.5f, 1.0f, 2.0f, 3.0f};
  std::vector<float> nu(mean.size());
  if (ta::convert(mean, 0.5f, nu, 100, 0) != ta::status::ok) return 1;
  for (size_t i = 0; i < mean.size(); ++i)
    std::printf("e = 0.5, M = %.2f -> nu = %.9g\n", double(mean[i]), double(nu[i]));

  std::array<float, 3> orbit = {-1.55f, 0.5f, 7.0f};
  if (ta::convert_in_place(orbit, 0.9f, 100, 0) != ta::status::ok) return 1;
  std::printf("e = 0.9, in place: %.9g %.9g %.9g\n", double(orbit[0]), double(orbit[1]),
              double(orbit[2]));

  // -1 radian is a result here, not the failure it would look like from the
  // C scalar entry; the second call reaches its limit of 3.
  for (auto [m, e, limit] : {std::tuple{-1.0f, 0.0f, 100}, std::tuple{0.5f, 0.99f, 3}}) {
    if (const std::optional<float> r = ta::true_anomaly(m, e, limit, 1))
      std::printf("M = %g, e = %g, limit %d: %.9g\n", double(m), double(e), limit, double(*r));
    else
      std::printf("M = %g, e = %g, limit %d: iteration limit reached\n", double(m), double(e),
                  limit);
  }
  return 0;
}
