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

// "uniq %s > %s": `input` written to `output` with adjacent duplicates
// collapsed.
std::string uniq_command(const std::string& input, const std::string& output);

// "cat %s | sed s/'DEVICE=%s .*$'// | uniq > %s": empties every line part
// that starts with "DEVICE=", `name` matched literally, and one space. None
// when `name` holds a line break (it can match no line).
std::optional<std::string> remove_device_command(const std::string& input, const std::string& name,
                                                 const std::string& output);

// "cat %s | sed s/'log=.*'// | uniq > %s": empties every logging entry.
std::string logging_off_command(const std::string& input, const std::string& output);

// "cat %s" with a path.
std::string cat_command(const std::string& path);

// "cat %s/%s" with a directory and one of its entry names.
std::string cat_entry_command(const std::string& dir, const std::string& name);

// The probe commands of the diagnosis report, in the order they run.
inline constexpr const char* kProbeCommands[] = {
    "cat /etc/fstab", "sane-find-scanner", "ls -R -all /proc/bus/usb", "cat /proc/bus/usb/devices",
    "scanimage -L",
};

}  // namespace kxsane
