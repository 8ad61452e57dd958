// SPDX-License-Identifier: BSD-3-Clause
// Must not compile with -Werror: a status that reports a failure is dropped.
#include <trueanomaly.hpp>

int main() {
  float m[1] = {1.0f}, nu[1];
  libtrueanomaly::convert(m, 0.5f, nu, 100, 0);
}
