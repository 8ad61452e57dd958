// SPDX-License-Identifier: BSD-3-Clause
// Built with -std=c++14: the header must stop with one clear message.
#include <trueanomaly.hpp>

int main() {}
