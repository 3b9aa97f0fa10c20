# The start of a command that runs Wine programs on a display of its own
# (run, screenshots, benchmark): strict mode, the shared set-up, and the
# display and Wine sessions it starts ended however it exits. Sourced as
# the command's first line; env.sh itself stays fit for an interactive shell.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
trap zyr_stop_all EXIT
