#!/bin/sh
# Starts the installed application from its application directory.
here=$(dirname "$(readlink -f "$0")")
exec "$here/../lib/tavrolin/tavrolin" "$@"
