// kxsanescramble4: the authoring tool for model description files. Writes a
// file with every model line of its "[Support Model]" section scrambled, or
// (with -d) a scrambled file back as plain text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "common/closers.h"
#include "common/status.h"
#include "models/scrambler.h"

namespace {

constexpr char kProgram[] = "kxsanescramble4";

constexpr char kUsage[] =
    "Usage: kxsanescramble4 [-d] [-o OUTPUT] [INPUT]\n"
    "Writes the model description file INPUT (standard input when it is missing\n"
    "or \"-\") with every model line of its [Support Model] section scrambled.\n"
    "  -d         turn a scrambled file back into plain text\n"
    "  -o OUTPUT  write to the file OUTPUT instead of standard output\n"
    "  -h         print this text\n"
    "Exit status: 0 on success, 1 when the file cannot be converted, read or\n"
    "written, 2 for wrong arguments.\n";

constexpr int kFailed = 1;
constexpr int kBadArguments = 2;

struct Arguments {
  bool unscramble = false;
  std::string input = "-";
  std::string output = "-";
};

int fail(const std::string& where, const std::string& why) {
  std::fprintf(stderr, "%s: %s: %s\n", kProgram, where.c_str(), why.c_str());
  return kFailed;
}

std::optional<std::string> read_all(std::FILE* file) {
  std::string content;
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
  if (std::ferror(file))
    return std::nullopt;
  return content;
}

// Parses the command line; none (after printing why) for wrong arguments.
std::optional<Arguments> parse_arguments(int argc, char** argv) {
  Arguments args;
  bool have_input = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-d") {
      args.unscramble = true;
    } else if (arg == "-o" && i + 1 < argc) {
      args.output = argv[++i];
    } else if ((arg == "-" || arg[0] != '-') && !have_input) {
      args.input = arg;
      have_input = true;
    } else {
      std::fprintf(stderr, "%s: unexpected argument \"%s\"\n%s", kProgram, arg.c_str(), kUsage);
      return std::nullopt;
    }
  }
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::optional<Arguments> args = parse_arguments(argc, argv);
  if (!args)
    return kBadArguments;

  std::optional<std::string> input;
  if (args->input == "-") {
    input = read_all(stdin);
  } else if (const kxsane::UniqueFile file{std::fopen(args->input.c_str(), "rb")}) {
    input = read_all(file.get());
  }
  const std::string input_name = args->input == "-" ? "standard input" : args->input;
  if (!input)
    return fail(input_name, std::strerror(errno));

  const kxsane::Result<std::string> converted = args->unscramble
                                                    ? kxsane::unscramble_model_file(*input)
                                                    : kxsane::scramble_model_file(*input);
  if (!converted.ok())
    return fail(input_name, converted.status().message());
  const std::string& output = *converted;

  // Opened only now, so that a refused file leaves no output file behind.
  const bool to_stdout = args->output == "-";
  std::FILE* out = to_stdout ? stdout : std::fopen(args->output.c_str(), "wb");
  if (out == nullptr)
    return fail(args->output, std::strerror(errno));
  const bool written = std::fwrite(output.data(), 1, output.size(), out) == output.size();
  const bool closed = (to_stdout ? std::fflush(out) : std::fclose(out)) == 0;
  if (!written || !closed) {
    const int error = errno;
    if (!to_stdout)
      std::remove(args->output.c_str());
    return fail(to_stdout ? "standard output" : args->output, std::strerror(error));
  }
  return 0;
}
