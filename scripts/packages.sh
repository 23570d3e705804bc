# Sourced by the install scripts: who may install, and which of the Debian
# packages named are not installed yet (printed, each after a space).
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
missing_packages() {
  local p missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  echo "$missing"
}
