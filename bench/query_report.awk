# The query report ("kxsaneconfig4 -q") as a plain awk script, the floor a
# user would get by scripting it; the benchmark compares the two. Arguments:
# the model description files in load order; -v devices=PATH names the device
# configuration file. Handles what the benchmark's inputs hold: plain model
# lines, comments, blank lines, section headers, and device lines in the
# tool's own spaced form.
BEGIN { pad = sprintf("%20s", "") }

FNR == 1 { in_section = 0; finished = 0 }
finished { next }
!in_section {
  if (substr($0, 1, 15) == "[Support Model]")
    in_section = 1
  next
}
{
  line = $0
  sub(/^[ \t]+/, "", line)
  first = substr(line, 1, 1)
  if (line == "" || first == "#")
    next
  if (first == "[") {
    finished = 1
    next
  }
  gsub(/[ \t\r\f]/, "", line)
  split(line, field, ",")
  printf "%3d %s\n", models++, field[4]
}

function padded(text) {
  return text (length(text) <= 18 ? substr(pad, 1, 20 - length(text)) : " ")
}

END {
  printf "\nDevices on network\n"
  count = 0
  while ((getline entry < devices) > 0) {
    if (entry !~ /^DEVICE=/)
      continue
    split(entry, part, / , /)
    address = part[4]
    sub(/ +$/, "", address)
    shown = ""
    if (address ~ /^NODENAME=/)
      shown = "N:" substr(address, 10)
    else if (address ~ /^IP-ADDRESS=/)
      shown = "I:" substr(address, 12)
    printf "%3d %s%s%s\n", count++, padded(substr(part[1], 8)), padded(part[2]), shown
  }
}
