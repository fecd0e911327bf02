# Progress and failure lines of the build scripts, sourced by them after they
# set `log_name` to their own name: "== <name>: ..." on stdout, and on failure
# "== <name>: FAILED: ..." on stderr and exit 1.
say() { printf '== %s: %s\n' "$log_name" "$*"; }
fail() {
  printf '== %s: FAILED: %s\n' "$log_name" "$*" >&2
  exit 1
}
