# shellcheck shell=bash
# Usage: source "$(dirname "${BASH_SOURCE[0]}")/usage.sh", first thing in a script
# Sourced by every script before it does anything: a script's usage is its
# opening comment, from its "Usage:" line to the comment's end.
#   fenwarel_usage             prints the usage of the script that runs
#   fenwarel_usage_error WHY   prints WHY and the usage to stderr, exits 2
#   fenwarel_no_arguments "$@" for a script that takes none: --help or -h
#                              prints the usage and exits 0; anything else
#                              is an error
#   fenwarel_library "$@"      for a file that is only ever sourced, when it
#                              was run instead: the same as no arguments,
#                              but an error without any

fenwarel_usage() {
  sed -n '/^# Usage:/,/^[^#]\|^$/{/^#/s/^# \{0,1\}//p}' "$0"
}

fenwarel_usage_error() {
  {
    echo "$(basename -- "$0"): $1"
    fenwarel_usage
  } >&2
  exit "${FENWAREL_USAGE_STATUS:-2}"
}

fenwarel_no_arguments() {
  case "${1-}" in
    -h | --help)
      fenwarel_usage
      exit 0
      ;;
  esac
  [ $# -eq 0 ] || fenwarel_usage_error "unknown argument: $1"
}

fenwarel_library() {
  [ $# -gt 0 ] || fenwarel_usage_error "this file is sourced by the other scripts, not run"
  fenwarel_no_arguments "$@"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then fenwarel_library "$@"; fi
