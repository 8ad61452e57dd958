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
