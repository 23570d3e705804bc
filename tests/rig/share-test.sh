# Sourced by the share's rig tests (inside scripts/with-wine.sh, rig up):
# where the share is, the test's own names, and its failures told and counted.
# Sets QMCOPY (from $1), RIG_SH, share_win, share_unix, server_root, name
# (qmrig-KIND-PID), src and src_win (the test's folder on the local disk).
set -u
[ "${QM_RIG:-}" = skip ] && { echo "QM_RIG=skip"; exit 0; }
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
RIG_SH="$QM_ROOT/scripts/rig.sh"
QMCOPY="$1"
ENV_FILE="$QM_ROOT/build/rig/destinations.env"
[ -f "$ENV_FILE" ] || { echo "FAIL: the rig is not up ($ENV_FILE missing)"; exit 1; }
server_root="$(sed -n 's/^share_server_files=//p' "$ENV_FILE")"
share_unix="$(sed -n 's/^share_unix=//p' "$ENV_FILE")"
share_win="$(sed -n 's/^share=//p' "$ENV_FILE")"
name="qmrig-$(basename "$0" .sh | sed 's/^share-//')-$$"
src="$WINEPREFIX/drive_c/qmtests/$name"
src_win="C:\\qmtests\\$name"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# COUNT files of KIB KiB of random bytes in $src/files, and the folder $dst.
make_files() {
  mkdir -p "$src/files" "$dst"
  head -c $(($1 * $2 * 1024)) /dev/urandom > "$src/all"
  split -b $(($2 * 1024)) -d -a 3 "$src/all" "$src/files/f"
  rm "$src/all"
}
# Entries on the server, ours and half-written ones alike.
entries() { find "$dst" -type f 2>/dev/null | wc -l; }
