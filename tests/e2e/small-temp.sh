#!/bin/sh
# small-temp.sh mount|unmount <folder> [size] [link]: a small tmpfs as the working location
# of the disk-full tests. <link> (a prefix's windows/SystemTemp) points at its folder
# "active", which only the disk-full test makes: for every other run the link leads
# nowhere and Setup works in the Windows folder's Temp. A mount that is refused (not root, no
# tmpfs) leaves <folder>.refused with the reason, which the test reports when it skips.
set -u
action=${1:?usage: small-temp.sh mount|unmount <folder> [size]}
folder=${2:?usage: small-temp.sh mount|unmount <folder> [size]}
size=${3:-600k}
link=${4:-}
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
    [ -z "$link" ] || ln -sfn "$folder/active" "$link"
    ;;
unmount)
    [ -n "$link" ] && [ -L "$link" ] && rm -f "$link"
    if mountpoint -q "$folder"; then umount "$folder" || exit 1; fi
    rm -f "$folder.refused"
    ;;
*)
    echo "small-temp.sh: unknown action $action" >&2
    exit 2
    ;;
esac
