#!/bin/sh
# Runs the collection's own tests with ansible-test, its unit tests and its
# compile sanity test, on a copy in WORK_DIR: ansible-test writes its output
# into the collection and lists the collection's files through git. It also
# leaves pytest's directories in /tmp, so the tests run it in the sandbox.
# Usage: ansible_test.sh COLLECTION_DIR WORK_DIR. Exit 77: skipped.
set -eu
skip() { echo "skipped: $1"; exit 77; }
tool=$(command -v ansible-test) || skip 'ansible-test is not installed'
command -v git >/dev/null || skip 'git is not installed'
python=$(sed -n '1s/^#! *//p' "$tool")
"$python" -c 'import pytest, xdist, pytest_forked' 2>/dev/null ||
  skip "$python lacks pytest, pytest-xdist or pytest-forked"
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')

rm -rf "$2"
mkdir -p "$2/ansible_collections/kestrel"
cp -r "$1" "$2/ansible_collections/kestrel/kxsane"
cd "$2/ansible_collections/kestrel/kxsane"
git init -q .
export HOME="$2/home" PYTHONDONTWRITEBYTECODE=1
ansible-test sanity --test compile --python "$version" --color no
ansible-test units --python "$version" --color no --num-workers 1
