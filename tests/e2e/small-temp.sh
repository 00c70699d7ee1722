#!/bin/sh
# small-temp.sh mount|unmount <folder> [size]: a small tmpfs as the temporary folder of
# the disk-full tests. A mount that is refused (not root, no tmpfs) leaves
# <folder>.refused with the reason, which the test reports when it skips.
set -u
action=${1:?usage: small-temp.sh mount|unmount <folder> [size]}
folder=${2:?usage: small-temp.sh mount|unmount <folder> [size]}
size=${3:-600k}
case $action in
mount)
    rm -f "$folder.refused"
    mountpoint -q "$folder" && umount "$folder"
    mkdir -p "$folder" || exit 1
    if ! reason=$(mount -t tmpfs -o "size=$size,mode=1777" tmpfs "$folder" 2>&1); then
        echo "mount -t tmpfs -o size=$size on $folder: ${reason:-refused}" >"$folder.refused"
        exit 0
    fi
    touch "$folder/.mounted"
    ;;
unmount)
    if mountpoint -q "$folder"; then umount "$folder" || exit 1; fi
    rm -f "$folder.refused"
    ;;
*)
    echo "small-temp.sh: unknown action $action" >&2
    exit 2
    ;;
esac
