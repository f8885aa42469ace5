#!/usr/bin/env bash
# A root shell often has no sudo (a container, a rescue system), and the build scripts work there:
# so must the README. Each command of its shell blocks that begins with "sudo" must be given in a
# shell block without it too, for root.
set -euo pipefail
readme=${1:?usage: readme_sudo_test.sh README.md}

blocks=$(awk '/^```sh/{code=1; next} /^```/{code=0} code' "$readme")
status=0
while IFS= read -r line; do
    command=${line%%#*}                  # the comment off
    command=${command%"${command##*[![:space:]]}"}
    root=${command#sudo }
    if ! grep -qF -- "$root" <<<"${blocks//"sudo $root"/}"; then
        echo "$readme: no form for a root shell without sudo: $command" >&2
        status=1
    fi
done < <(grep '^sudo ' <<<"$blocks")
exit $status
