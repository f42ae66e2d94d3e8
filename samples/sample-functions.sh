# Functions the sample scripts share; sourced, with $work (the temporary
# folder) and the array `wanted` (the names to write, or none for all) set.

# wanted NAME: whether NAME is to be written.
wanted() {
  ((${#wanted[@]} == 0)) && return 0
  local w
  for w in "${wanted[@]}"; do [[ $w == "$1" ]] && return 0; done
  return 1
}

# make_key NAME ALGORITHM-OPTIONS...: a fresh key in the temp folder.
make_key() {
  local name="$1"
  shift
  openssl genpkey -out "$work/$name.key" "$@" 2>/dev/null
}
