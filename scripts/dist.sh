#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The source tarball: every tracked file of the work tree as it is now
# (uncommitted changes to tracked files included, untracked files never),
# under romflash-VERSION/, as DIR/romflash-VERSION.tar.gz. Prints its path.
# A release builds from it alone: no git history, nothing from outside the tree.
#   scripts/dist.sh [DIR]      (default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(scripts/version.sh)
out=$(mkdir -p "${1:-build-release}" && cd "${1:-build-release}" && pwd)
tarball=$out/romflash-$version.tar.gz
# `git stash create` makes a commit of the work tree without touching it or the
# stash list; it prints nothing when the tree is clean, and then HEAD is the tree.
tree=$(git stash create)
git archive --format=tar.gz --prefix="romflash-$version/" -o "$tarball" "${tree:-HEAD}"
echo "$tarball"
