// The bash completion end to end: bash with the completion script loaded
// completes command lines the way readline asks it to (COMP_LINE, COMP_POINT,
// COMP_WORDS, COMP_CWORD, then the function that `complete -p` names), with
// the real kxsaneconfig4 found on PATH and the configuration directory of the
// namespace.
#include <sstream>
#include <string>
#include <vector>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

// Loads the completion and prints, for each command line given as an
// argument, the candidates for its last word sorted and joined by single
// spaces, one line per command line. The first line of the output is what
// `complete -p kxsaneconfig4` says.
constexpr char kCompleteLines[] = R"bash(
source "$1" || exit 1
shift
complete -p kxsaneconfig4 || exit 1
registration=$(complete -p kxsaneconfig4)
function=${registration#*-F }
function=${function%% *}
for line in "$@"; do
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMP_TYPE=9
  COMP_KEY=9
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *[[:blank:]] ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function" kxsaneconfig4 "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -s -d ' ' -
done
)bash";

constexpr char kModels[] =
    "[Support Model]\n"
    "0x4ab:0x123, 503, 1, \"KX-100\", 1, 2\n"
    "0x4ab:0x2f0, 503, 1, \"KX 200\"\n"
    "0x4ab:0x2f1, 503, 1, Bare\n"
    "0x4ab:0x2f2, 503, 1, \"KX(5)\"\n";
constexpr char kMoreModels[] = "[Support Model]\n0x1e:0xabc, 1, 1, \"KX-9\"\n";

constexpr char kRegistry[] =
    "# scanners of the second floor\n"
    "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n"
    "DEVICE=lab_2 , \"KX-9\" , 0x1e:0xabc , NODENAME=KXN_0012 \n"
    "DEVICE=a-very-long-scanner-name , \"KX-9\" , 0x1e:0xabc , IP-ADDRESS=10.0.0.7 \n"
    "DEVICE= , \"KX-9\" , 0x1e:0xabc , IP-ADDRESS=10.0.0.8 \n"
    "log=/tmp/kx_sane.log , 1 , w\n";

// A command line to complete and the candidates expected for its last word,
// sorted and joined by single spaces.
struct Row {
  std::string line;
  std::string candidates;
  const char* why = "";
};

class BashCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    sb_.write("Kxsane4.ini", kModels);
    sb_.write("models4/more.ini", kMoreModels);
    sb_.write(kDeviceCfg, kRegistry);
    sb_.write("before-move.kxsaneconfig4", kRegistry);
    sb_.write("old.kxsaneconfig4", "");
    sb_.write(".kxsaneconfig4", "");
    sb_.write("notes.txt", "not a label\n");
    sb_.write("dir.kxsaneconfig4/x", "a directory, not a label\n");
  }

  // Completes the line of each row in bash and checks its candidates, and
  // that the completion registered its function and printed no error.
  // `setup` is bash code run after the completion is loaded
  // (COMP_WORDBREAKS, ...); with `on_path` false, kxsaneconfig4 cannot be
  // found.
  void expect_completions(const std::vector<Row>& rows, const std::string& setup = "",
                          bool on_path = true) {
    std::string script =
        "mkdir -p \"$WORK/bin\" && ln -sf \"$KX\" \"$WORK/bin/kxsaneconfig4\" || exit 1\n";
    if (on_path)
      script += "PATH=\"$WORK/bin:$PATH\"\n";
    script += "exec bash --norc --noprofile -c " +
              sh_quote(setup + "\n" + std::string(kCompleteLines)) + " bash " +
              sh_quote(Sandbox::inside(KXSANE_COMPLETION_SCRIPT));
    for (const Row& row : rows) script.append(" ").append(sh_quote(row.line));
    script += "\n";

    const RunResult r = sb_.shell(script);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::istringstream out(r.out);
    std::string registration;
    std::getline(out, registration);
    EXPECT_EQ(registration, "complete -F _kxsaneconfig4 kxsaneconfig4");
    for (const Row& row : rows) {
      std::string candidates;
      EXPECT_TRUE(std::getline(out, candidates)) << r.out;
      EXPECT_EQ(candidates, row.candidates) << "[" << row.line << "] " << row.why;
    }
  }

  Sandbox sb_;
};

TEST_F(BashCompletion, RegistersAFunctionAndCompletesTheOptions) {
  KXSANE_REQUIRE_SANDBOX();
  expect_completions({
      {"kxsaneconfig4 ", "-D3 -LI -LO -a -d -h -i -l: -p -q -r -s:"},
      {"kxsaneconfig4 -L", "-LI -LO"},
      {"kxsaneconfig4 -s", "-s:"},
      {"kxsaneconfig4 -s:", "", "-s: takes a new label, there is nothing to offer"},
      {"kxsaneconfig4 -x", ""},
      {"kxsaneconfig4 -q ", "", "-q takes no further argument"},
  });
}

TEST_F(BashCompletion, AddOffersEachKeyOnceAndTheQuotedModelsOfTheQueryReport) {
  KXSANE_REQUIRE_SANDBOX();
  // "=" breaks the word for readline: only the part after it is replaced.
  // "KX 200" is listed, and matched, without its blank; "Bare" has no
  // quotes, so -a could never match it.
  expect_completions({
      {"kxsaneconfig4 -a ", "ip= model= name= nodename="},
      {"kxsaneconfig4 -a n", "name= nodename="},
      {"kxsaneconfig4 -a name=lab ip=10.0.0.9 ", "model= nodename="},
      {"kxsaneconfig4 -a name=", "", "a new friendly name cannot be guessed"},
      {"kxsaneconfig4 -a name=lab model=", "KX-100 KX-9 KX200 KX\\(5\\)"},
      {"kxsaneconfig4 -a name=lab model=KX-", "KX-100 KX-9"},
      {"kxsaneconfig4 -a name=lab model=KX-1", "KX-100"},
      {"kxsaneconfig4 -a name=lab model=B", ""},
      {"kxsaneconfig4 -r model=", "", "models belong to -a only"},
  });
}

TEST_F(BashCompletion, RemoveOffersTheRegisteredNamesNotYetGiven) {
  KXSANE_REQUIRE_SANDBOX();
  // The device without a friendly name shows its model in the name column;
  // it is no name to offer.
  expect_completions({
      {"kxsaneconfig4 -r ", "a-very-long-scanner-name lab_2 office"},
      {"kxsaneconfig4 -r o", "office"},
      {"kxsaneconfig4 -r office ", "a-very-long-scanner-name lab_2"},
      {"kxsaneconfig4 -r office lab_2 a-very-long-scanner-name ", ""},
      {"kxsaneconfig4 -a ", "ip= model= name= nodename=", "names belong to -r only"},
  });
  EXPECT_EQ(sb_.tmp_entries(), "");
  EXPECT_EQ(sb_.read(kDeviceCfg), kRegistry) << "completing must not change the registry";
}

TEST_F(BashCompletion, LoadOffersTheSavedLabels) {
  KXSANE_REQUIRE_SANDBOX();
  // ".kxsaneconfig4" (the empty label), a directory and other files are no
  // labels to offer; ":" breaks the word for readline.
  expect_completions({
      {"kxsaneconfig4 -l:", "before-move old"},
      {"kxsaneconfig4 -l:b", "before-move"},
      {"kxsaneconfig4 -l:x", ""},
      {"kxsaneconfig4 -l", "-l:"},
  });
}

TEST_F(BashCompletion, HandsBackWholeWordsWhenNeitherColonNorEqualsBreaksThem) {
  KXSANE_REQUIRE_SANDBOX();
  expect_completions(
      {
          {"kxsaneconfig4 -l:", "-l:before-move -l:old"},
          {"kxsaneconfig4 -a name=lab model=KX-1", "model=KX-100"},
          {"kxsaneconfig4 -a na", "name="},
      },
      "COMP_WORDBREAKS=$' \\t\\n'");
}

TEST_F(BashCompletion, OffersNothingAndStaysQuietWithoutTheToolOnPath) {
  KXSANE_REQUIRE_SANDBOX();
  expect_completions(
      {
          {"kxsaneconfig4 -r ", ""},
          {"kxsaneconfig4 -a model=", ""},
          {"kxsaneconfig4 -l:", "before-move old", "labels come from the files, not the tool"},
      },
      "PATH=/usr/bin:/bin", /*on_path=*/false);
}

}  // namespace
}  // namespace kxsane::e2e
