#!/bin/bash
# The destination rig: real file systems of the kinds users copy to, mounted
# under build/rig/ and mapped into the project's Wine prefix, so that the rig
# tests and the benchmark copy onto them as onto a stick, a disk or a share.
#
#   rig.sh up      clears this rig's leftovers, then mounts and maps everything
#   rig.sh down    takes everything down, hung mounts included
#   rig.sh status  says what is mounted
#   rig.sh smbd-kill | smbd-start   (the share-dying test) the server alone
#   rig.sh smbd-freeze | smbd-thaw  (the share-freezing test) the server stopped and let go on
#
# Kinds, their drives and paths (also written to build/rig/destinations.env):
#   fat32  K:  mkfs.vfat -F 32 image under fusefat -o rw+ (times to 2 s; no mode changes)
#   exfat  L:  mkfs.exfat image on a loop device under mount.exfat-fuse
#   ntfs   M:  mkntfs image under ntfs-3g -o streams_interface=windows,permissions (read-only kept)
#   share  \\127.0.0.1\share (and N:): smbd on loopback reached through smbnetfs
#          (FUSE), both inside a network namespace of their own, so port 445
#          stays free here and no packet leaves loopback.
#   fakestick  U:  tests/rig/fakestick.c -o real=4M,size=64M: claims 64 MiB and
#              keeps 4 MiB, handed out in 64 KiB blocks round a ring: each new
#              block overwrites the oldest, so a file reads back intact only
#              while less than 4 MiB has been written after it
#   flipping   V:  tests/rig/fakestick.c -o flip=3: every third write call stored
#              with its first byte inverted
#   Both pass through to folders of build/rig/backing, mounted direct_io (every
#   read reaches them), and start empty at every "up".
# Needs root, /dev/fuse and loop devices; QM_RIG=skip turns the rig (and its
# tests) off on a machine without them.
set -u
. "$(dirname "$0")/wine-env.sh"
RIG="$QM_ROOT/build/rig"
IMAGES="$RIG/images"
MNT="$RIG/mnt"
SAMBA="$RIG/samba"
ENV_FILE="$RIG/destinations.env"
DOS="$WINEPREFIX/dosdevices"
NETNS_TAG="qm-rig-netns:$RIG"  # argv[0] of the process that holds the namespace
IMAGE_MIB=1024                   # sparse: only what is written takes room
declare -A LETTER=([fat32]=k [exfat]=l [ntfs]=m [share]=n [fakestick]=u [flipping]=v)
FAKESTICK_OPTIONS=real=4M,size=64M
FLIPPING_OPTIONS=flip=3

log() { echo "rig: $*" >&2; }

# PIDs of the process holding the rig's network namespace (one, unless a
# crash left more).
# Only a "sleep" has its command line read: reading another process's waits
# while that process is stuck in a page fault (on a share gone, say).
netns_holders() {
  local p argv0 comm
  for p in /proc/[0-9]*; do
    comm="" argv0=""
    { read -r comm < "$p/comm"; } 2>/dev/null
    [ "$comm" = sleep ] || continue
    { read -r -d '' argv0 < "$p/cmdline"; } 2>/dev/null
    [ "$argv0" = "$NETNS_TAG" ] && echo "${p#/proc/}"
  done
}

# Every process inside the namespace of holder $1 (the holder included).
netns_members() {
  local ns p
  ns="$(readlink "/proc/$1/ns/net" 2>/dev/null)" || return 0
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/ns/net" 2>/dev/null)" = "$ns" ] && echo "${p#/proc/}"
  done
}

# PIDs whose command line names a path of this rig (the FUSE daemons).
rig_daemons() {
  local p comm args
  for p in /proc/[0-9]*; do
    [ "${p#/proc/}" = "$$" ] && continue
    comm=""
    { read -r comm < "$p/comm"; } 2>/dev/null
    case "$comm" in
      fusefat | ntfs-3g | mount.exfat-fus* | fakestick | smbnetfs | smbd* | cleanupd | samba-dcerpcd | rpcd_*) ;;
      *) continue ;;
    esac
    args="$(tr '\0' ' ' < "$p/cmdline" 2>/dev/null)"
    case "$args" in *"$RIG/"*) echo "${p#/proc/}" ;; esac
  done
}

# Mount points under the rig, deepest first, read from the kernel's table
# (never by touching them: a hung FUSE mount blocks whoever looks).
rig_mounts() {
  awk -v rig="$RIG/" 'index($5, rig) == 1 { print length($5), $5 }' /proc/self/mountinfo | sort -rn | cut -d' ' -f2-
}

fuse_connection_of() {  # the FUSE connection number of mount point $1 (its device's minor)
  awk -v dir="$1" '$5 == dir { split($3, d, ":"); print d[2] }' /proc/self/mountinfo | head -1
}

ensure_fusectl() {
  grep -q ' /sys/fs/fuse/connections ' /proc/mounts ||
    mount -t fusectl fusectl /sys/fs/fuse/connections 2>/dev/null || true
}

unmount_one() {
  local dir="$1" conn
  # A healthy FUSE daemon answers at once; one that does not within 3 s is hung.
  timeout 3 fusermount -u "$dir" 2>/dev/null && return
  timeout 3 umount "$dir" 2>/dev/null && return
  # Hung or busy: cut the FUSE connection so nothing waits on it any more, then detach.
  ensure_fusectl
  conn="$(fuse_connection_of "$dir")"
  [ -n "$conn" ] && [ -e "/sys/fs/fuse/connections/$conn/abort" ] && echo 1 > "/sys/fs/fuse/connections/$conn/abort"
  fusermount -uz "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || log "cannot unmount $dir"
}

running() {  # a zombie no one reaps (PID 1 of a container may not) counts as gone
  [ -e "/proc/$1" ] && [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

kill_pids() {  # TERM, a moment, then KILL whatever is left
  local pids="$*" p
  [ -z "${pids// /}" ] && return 0
  kill $pids 2>/dev/null
  for _ in $(seq 20); do
    local alive=""
    for p in $pids; do running "$p" && alive="$alive $p"; done
    [ -z "$alive" ] && return 0
    sleep 0.1
  done
  kill -9 $pids 2>/dev/null
  return 0
}

unmap() {
  local kind
  for kind in "${!LETTER[@]}"; do
    local link="$DOS/${LETTER[$kind]}:"
    # Only our own links: a letter the prefix uses for something else stays.
    [ -L "$link" ] && case "$(readlink "$link")" in "$RIG"/*) rm -f "$link" ;; esac
  done
  local unc="$DOS/unc/127.0.0.1/share"
  [ -L "$unc" ] && case "$(readlink "$unc")" in "$RIG"/*) rm -f "$unc" ;; esac
  rmdir "$DOS/unc/127.0.0.1" "$DOS/unc" 2>/dev/null
  true
}

down() {
  local dir holder loop
  unmap
  rm -f "$ENV_FILE"
  for dir in $(rig_mounts); do unmount_one "$dir"; done
  for holder in $(netns_holders); do kill_pids $(netns_members "$holder"); done
  kill_pids $(rig_daemons)
  # Loop devices backed by our images, including images since deleted.
  while read -r loop; do
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  done < <(losetup -l -n -O NAME,BACK-FILE 2>/dev/null | awk -v img="$IMAGES/" 'index($2, img) == 1 { print $1 }')
  for dir in $(rig_mounts); do log "still mounted: $dir"; done
  true
}

need() {
  local missing=""
  [ "$(id -u)" -eq 0 ] || missing="$missing root"
  [ -c /dev/fuse ] || missing="$missing /dev/fuse"
  [ -e /dev/loop-control ] || losetup -f >/dev/null 2>&1 || missing="$missing loop-devices"
  for tool in mkfs.vfat mkfs.exfat mkntfs fusefat mount.exfat-fuse ntfs-3g smbd smbnetfs unshare nsenter ip fusermount gcc pkg-config; do
    command -v "$tool" >/dev/null || missing="$missing $tool"
  done
  if [ -n "$missing" ]; then
    log "this machine lacks:$missing (set QM_RIG=skip to run without the rig)"
    exit 1
  fi
}

make_image() {  # kind; prints the image path
  local img="$IMAGES/$1.img"
  rm -f "$img"
  truncate -s "${IMAGE_MIB}M" "$img"
  echo "$img"
}

wait_mounted() {  # dir: true once the kernel lists it as a mount point
  for _ in $(seq 100); do
    awk -v d="$1" '$5 == d { found = 1 } END { exit !found }' /proc/self/mountinfo && return 0
    sleep 0.1
  done
  log "$1 did not mount"
  return 1
}

# Built natively, as scripts/throttle.sh builds throttlefs; again when its
# source is newer.
build_fakestick() {
  local src="$QM_ROOT/tests/rig/fakestick.c"
  [ -x "$RIG/fakestick" ] && ! [ "$src" -nt "$RIG/fakestick" ] &&
    ! [ "$QM_ROOT/bench/passthrough.h" -nt "$RIG/fakestick" ] && return 0
  gcc -O2 -Wall -o "$RIG/fakestick" "$src" $(pkg-config --cflags --libs fuse3) || { log "cannot build $src"; return 1; }
}

mount_fakestick() {  # kind, options: a pass-through to an empty folder of build/rig/backing
  rm -rf "${RIG:?}/backing/$1"
  mkdir -p "$RIG/backing/$1"
  "$RIG/fakestick" "$RIG/backing/$1" "$MNT/$1" -o "$2" || return 1
  wait_mounted "$MNT/$1"
}

write_samba_conf() {
  mkdir -p "$SAMBA/share" "$SAMBA/var/lock" "$SAMBA/var/state" "$SAMBA/var/cache" "$SAMBA/var/private" \
    "$SAMBA/var/pid" "$SAMBA/var/ncalrpc" "$SAMBA/client/.smb"
  cat > "$SAMBA/smb.conf" <<EOF
# The rig's server: loopback only, one guest share, all state under build/rig.
[global]
  server role = standalone server
  netbios name = QMRIG
  workgroup = WORKGROUP
  interfaces = lo
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  server min protocol = SMB2
  map to guest = Bad User
  guest account = root
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  lock directory = $SAMBA/var/lock
  state directory = $SAMBA/var/state
  cache directory = $SAMBA/var/cache
  private dir = $SAMBA/var/private
  pid directory = $SAMBA/var/pid
  ncalrpc dir = $SAMBA/var/ncalrpc
  log file = $SAMBA/var/log.%m
  max log size = 1000
  log level = 0
[share]
  path = $SAMBA/share
  read only = no
  guest ok = yes
  guest only = yes
  force user = root
EOF
  # The client's side: libsmbclient reads ~/.smb/smb.conf, smbnetfs its own file there.
  cat > "$SAMBA/client/.smb/smb.conf" <<EOF
[global]
  client min protocol = SMB2
  workgroup = WORKGROUP
  disable netbios = yes
  lock directory = $SAMBA/var/client-lock
  state directory = $SAMBA/var/client-state
  cache directory = $SAMBA/var/client-cache
EOF
  mkdir -p "$SAMBA/var/client-lock" "$SAMBA/var/client-state" "$SAMBA/var/client-cache"
  cat > "$SAMBA/client/.smb/smbnetfs.conf" <<EOF
auth "guest" ""
EOF
  chmod 600 "$SAMBA/client/.smb/smbnetfs.conf"  # smbnetfs ignores an auth line others can read
}

netns_pid() { netns_holders | head -1; }

smbd_start() {
  local ns
  ns="$(netns_pid)"
  [ -n "$ns" ] || { log "no namespace"; return 1; }
  nsenter -t "$ns" -n smbd -D -s "$SAMBA/smb.conf" || return 1
  for _ in $(seq 100); do
    nsenter -t "$ns" -n bash -c 'exec 3<>/dev/tcp/127.0.0.1/445' 2>/dev/null && return 0
    sleep 0.1
  done
  log "smbd does not answer"
  return 1
}

# The server and every process it forked (one per client connection, and its
# helpers), by force: the share dies as when a server goes away. The client
# stays, as a computer's stays when its server vanishes.
# A connection's process forked while the others are being killed would
# outlive them and serve on, so this goes round until none is left.
smbd_kill() {
  local ns p pids round
  ns="$(netns_pid)"
  [ -n "$ns" ] || return 0
  for round in $(seq 50); do
    pids=""
    for p in $(netns_members "$ns"); do
      [ "$p" = "$ns" ] && continue
      grep -q '^State:.Z' "/proc/$p/status" 2>/dev/null && continue  # dead, not yet reaped
      case "$(cat "/proc/$p/comm" 2>/dev/null)" in smbnetfs | "") ;; *) pids="$pids $p" ;; esac
    done
    [ -z "$pids" ] && break
    kill -9 $pids 2>/dev/null
    sleep 0.02
  done
  rm -f "$SAMBA/var/pid/smbd.pid"
  [ -z "$pids" ] || log "server processes outlived the kill:$pids"
}

# The server's processes (not the client), each sent signal $1: a server
# that stops answering for a while and then goes on.
smbd_signal() {
  local ns p
  ns="$(netns_pid)"
  [ -n "$ns" ] || return 0
  for p in $(netns_members "$ns"); do
    [ "$p" = "$ns" ] && continue
    case "$(cat "/proc/$p/comm" 2>/dev/null)" in smbnetfs | "") ;; *) kill "-$1" "$p" 2>/dev/null ;; esac
  done
}

up() {
  need
  down
  ensure_fusectl
  [ -d "$DOS" ] || { log "no Wine prefix at $WINEPREFIX (run through scripts/with-wine.sh)"; exit 1; }
  mkdir -p "$IMAGES" "$MNT/fat32" "$MNT/exfat" "$MNT/ntfs" "$MNT/fakestick" "$MNT/flipping" "$MNT/smbnet"
  local img loop ns

  img="$(make_image fat32)"
  mkfs.vfat -F 32 "$img" >/dev/null || return 1
  fusefat -o rw+ "$img" "$MNT/fat32" >"$RIG/fusefat.log" 2>&1 || return 1  # it prints its geometry
  wait_mounted "$MNT/fat32" || return 1

  img="$(make_image exfat)"
  mkfs.exfat -L QMEXFAT "$img" >/dev/null || return 1
  loop="$(losetup -f --show "$img")" || return 1
  mount.exfat-fuse "$loop" "$MNT/exfat" >/dev/null 2>&1 || return 1
  wait_mounted "$MNT/exfat" || return 1

  img="$(make_image ntfs)"
  mkntfs -Q -F -L QMNTFS "$img" >/dev/null 2>&1 || return 1
  ntfs-3g -o streams_interface=windows,permissions "$img" "$MNT/ntfs" >"$RIG/ntfs-3g.log" 2>&1 || return 1
  wait_mounted "$MNT/ntfs" || return 1

  build_fakestick || return 1
  mount_fakestick fakestick "$FAKESTICK_OPTIONS" || return 1
  mount_fakestick flipping "$FLIPPING_OPTIONS" || return 1

  write_samba_conf
  rm -rf "${SAMBA:?}/share"/* "$SAMBA/share"/.[!.]* 2>/dev/null
  unshare -n -- bash -c "ip link set lo up && exec -a '$NETNS_TAG' sleep infinity" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 50); do ns="$(netns_pid)"; [ -n "$ns" ] && break; sleep 0.1; done
  [ -n "$ns" ] || { log "no network namespace"; return 1; }
  # A small folder on the share (its own 8 MiB volume on the server) that fills up.
  mkdir -p "$SAMBA/share/small"
  mount -t tmpfs -o size=8m qm-rig-small "$SAMBA/share/small" || return 1
  smbd_start || return 1
  # smb_timeout: a dead server holds a call 3 s, not 20; reply_timeout: a
  # worker of the client's that hangs anyway is given up after 10 s, not 30.
  HOME="$SAMBA/client" nsenter -t "$ns" -n smbnetfs "$MNT/smbnet" \
    -o config="$SAMBA/client/.smb/smbnetfs.conf",smb_query_browsers=false,smb_timeout=3000,reply_timeout=10 || return 1
  wait_mounted "$MNT/smbnet" || return 1
  local share="$MNT/smbnet/127.0.0.1/share"
  for _ in $(seq 50); do timeout 5 ls "$share" >/dev/null 2>&1 && break; sleep 0.2; done
  timeout 5 ls "$share" >/dev/null 2>&1 || { log "the share is not reachable at $share"; return 1; }

  for kind in fat32 exfat ntfs fakestick flipping; do ln -sfn "$MNT/$kind" "$DOS/${LETTER[$kind]}:"; done
  ln -sfn "$share" "$DOS/${LETTER[share]}:"
  mkdir -p "$DOS/unc/127.0.0.1"
  ln -sfn "$share" "$DOS/unc/127.0.0.1/share"

  cat > "$ENV_FILE" <<EOF
# Written by scripts/rig.sh up: each destination kind, its Windows path, its Unix path.
fat32=K:\\
exfat=L:\\
ntfs=M:\\
share=\\\\127.0.0.1\\share\\
share_letter=N:\\
share_small=\\\\127.0.0.1\\share\\small\\
fakestick=U:\\
flipping=V:\\
fat32_unix=$MNT/fat32
exfat_unix=$MNT/exfat
ntfs_unix=$MNT/ntfs
share_unix=$share
share_server_files=$SAMBA/share
fakestick_unix=$MNT/fakestick
flipping_unix=$MNT/flipping
fakestick_options=$FAKESTICK_OPTIONS
flipping_options=$FLIPPING_OPTIONS
EOF
  log "up: fat32 K:, exfat L:, ntfs M:, share \\\\127.0.0.1\\share (N:), fakestick U:, flipping V:"
}

status() {
  rig_mounts
  for h in $(netns_holders); do echo "namespace $h: $(netns_members "$h" | tr '\n' ' ')"; done
  losetup -l -n -O NAME,BACK-FILE | grep -F "$IMAGES/"
  true
}

[ "${QM_RIG:-}" = skip ] && { log "QM_RIG=skip: nothing done"; exit 0; }
case "${1:-}" in
  up) up || { log "up failed; taking down what was made"; down; exit 1; } ;;
  down) down ;;
  status) status ;;
  smbd-kill) smbd_kill ;;
  smbd-start) smbd_start ;;
  smbd-freeze) smbd_signal STOP ;;
  smbd-thaw) smbd_signal CONT ;;
  *) echo "usage: $0 up|down|status|smbd-kill|smbd-start|smbd-freeze|smbd-thaw" >&2; exit 2 ;;
esac
