# SPDX-License-Identifier: GPL-2.0-or-later
# Shared helpers of the scripts in this folder; sourced, not run.

note() { printf 'stilwane: %s\n' "$*" >&2; }
die() {
	printf 'stilwane: error: %s\n' "$*" >&2
	exit 1
}

stilwane_root() { printf '%s\n' "${STILWANE_ROOT:-/var/cache/stilwane/sid-root}"; }

# The source tree's top, seen from the host.
stilwane_top() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }
