# SPDX-License-Identifier: BSD-3-Clause
# Shared by .ci/run and the scripts in .ci/checks/: install Debian packages
# that are missing, running apt-get update at most once per CI run.
ci_install() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [ -z "${CI_APT_UPDATED:-}" ]; then
    apt-get update
    export CI_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# The array path the library must choose on this machine, read from the
# kernel's CPU flags (which list AVX-512 only where the OS saves its
# registers), independently of the library's own cpuid check.
native_path() {
  local flags
  flags=" $(grep -m1 '^flags' /proc/cpuinfo 2>/dev/null | cut -d: -f2) "
  if [[ $(uname -m) != x86_64 || $flags != *" avx2 "* || $flags != *" fma "* ]]; then
    echo plain
  elif [[ $flags == *" avx512f "* && $flags == *" avx512vl "* && $flags == *" avx512dq "* &&
          $flags == *" avx512bw "* ]]; then
    echo avx512
  else
    echo avx2
  fi
}

# Dispatch.ChoosesThePathThisMachineShouldGet fails unless the library picks
# this path: a path skipped because of a wrong CPU check fails CI.
export TRUEANOMALY_EXPECT_PATH=${TRUEANOMALY_EXPECT_PATH:-$(native_path)}
