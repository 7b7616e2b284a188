// Every command text that the tool hands to a shell is built here, from values
// that are checked or quoted here. Values made only of characters that need
// no quoting appear as they stand: for plain names each text is its form
// below with the values put in, byte for byte.
#pragma once

#include <optional>
#include <string>

namespace kxsane {

// `text` as one literal shell word: unchanged when every character is one of
// A-Z a-z 0-9 and . _ / - + , : = @ % (and it is non-empty), otherwise
// wrapped in single quotes with each embedded quote written as '\''.
std::string shell_word(const std::string& text);

// "ping %s -w 10\n"; none when `target` is not a plain host name or IPv4
// address (see is_plain_host), which never reaches a shell.
std::optional<std::string> ping_command(const std::string& target);

// The pipelines that rewrite the registry write their result on standard
// output, which the tool points at a file it created itself: no file is
// ever written by name through a shell.

// "uniq %s": `input` with adjacent duplicates collapsed.
std::string uniq_command(const std::string& input);

// "cat %s | sed s/'DEVICE=%s .*$'// | uniq": empties every line part that
// starts with "DEVICE=", `name` matched literally, and one space. None when
// `name` holds a line break (it can match no line).
std::optional<std::string> remove_device_command(const std::string& input, const std::string& name);

// "cat %s | sed s/'log=.*'// | uniq": empties every logging entry.
std::string logging_off_command(const std::string& input);

// The probe commands of the diagnosis report, in the order they run.
inline constexpr const char* kProbeCommands[] = {
    "cat /etc/fstab", "sane-find-scanner", "ls -R -all /proc/bus/usb", "cat /proc/bus/usb/devices",
    "scanimage -L",
};

}  // namespace kxsane
