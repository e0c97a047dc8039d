// velmora-tune: sweeps of the detector's settings, comparisons of two
// settings, and a cross-validated search for the settings that find the
// most falls within a false-alarm budget.
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "SettingsTable.h"
#include "TuneCommands.h"
#include "TuneOptions.h"
#include "Velmora.h"

namespace {

using namespace tune::tool;

constexpr char kProgram[] = "velmora-tune";

constexpr char kUsage[] =
    "Usage: velmora-tune sweep   --vary NAME=FROM:TO[:STEP]... [options] PATH...\n"
    "       velmora-tune compare --a FILE --b FILE [options] PATH...\n"
    "       velmora-tune search  --max-fa-per-hour X --group-by REGEX --folds K [options] PATH...\n"
    "       velmora-tune explain [--space FILE] [--csv FILE] [--json FILE] [options] PATH...\n"
    "       velmora-tune merge   [--csv FILE] [--roc FILE] [-o FILE] [--max-fa-per-hour X] "
    "PART...\n"
    "\n"
    "Evaluates many detector settings over a set of recordings, reading the\n"
    "recordings as velmora-eval does (same folders, .info rules, outcome rules\n"
    "and figures). Each recording is read once per run and the part of every\n"
    "sample that does not depend on the settings is computed once; each\n"
    "candidate then runs only the settings-dependent step. Output is the same\n"
    "for any -j.\n"
    "\n"
    "sweep    every point of a grid of up to three settings: a table, --csv with\n"
    "         one row per point (the velmora-eval --summary-csv figures), --roc\n"
    "         an SVG of sensitivity against false alarms per hour with the front\n"
    "         and the base settings marked.\n"
    "compare  the outcome of every recording under settings A and B: transitions,\n"
    "         the recordings that changed, both summaries; --csv the changed ones.\n"
    "search   the highest sensitivity with at most X false alarms per hour over\n"
    "         the settings of the space: K-fold cross-validation with folds that\n"
    "         keep each group (person) together, then a search on all data\n"
    "         written to -o as a settings file. Exit 1 when no candidate stays\n"
    "         within X (no settings file is written then).\n"
    "explain  why each wrong recording is wrong: for every setting of the space\n"
    "         the nearest value on each side that makes it right (every integer\n"
    "         of the range, not only the steps), what that value does to the\n"
    "         whole dataset, the errors by nearest cause and the best fixes;\n"
    "         --csv one row per recording, setting and side that has a fix,\n"
    "         --json everything, what the detector saw near each error included.\n"
    "merge    combines the part files of a run made with --shard into exactly\n"
    "         the outputs of the unsharded run.\n"
    "\n"
    "Options of every command but merge:\n"
    "  --set NAME=VALUE       change one base setting (repeatable)\n"
    "  --settings FILE        settings file: one NAME=VALUE a line, '#' comments\n"
    "  --profile NAME         a shipped settings profile: fa0.25, fa0.5, fa1 or fa2\n"
    "                         (--set, --settings and --profile apply in the order\n"
    "                         given)\n"
    "  --ext EXT              recording extension in folders (default .csv)\n"
    "  --early-tolerance SEC  as velmora-eval (default 1)\n"
    "  -j, --jobs N           threads (default: all cores)\n"
    "sweep:\n"
    "  --vary NAME=FROM:TO[:STEP]  a varied setting (1 to 3 of them; step 1)\n"
    "  --max-points N         largest grid accepted (default 1000000)\n"
    "  --csv FILE, --roc FILE.svg\n"
    "  --max-fa-per-hour X    a false-alarm budget: --roc draws it, the table\n"
    "                         marks the best point within it (* best) and --csv\n"
    "                         adds within_limit and best columns (also for merge\n"
    "                         of sweep parts; not with --shard)\n"
    "compare:\n"
    "  --a FILE, --b FILE     settings files of the two sides (on top of the base)\n"
    "  --a-set NAME=VALUE, --b-set NAME=VALUE  one-off changes of one side\n"
    "  --csv FILE             the recordings whose outcome changed\n"
    "search:\n"
    "  --space FILE           settings to search: NAME LOW HIGH [STEP] a line\n"
    "                         (default: the space --print-space shows)\n"
    "  --max-fa-per-hour X    false-alarm budget, a non-negative number\n"
    "  --group-by REGEX       group key: first capture group of REGEX (RE2\n"
    "                         syntax, searched in the file name; no\n"
    "                         back-references or look-around)\n"
    "  --group-by-column NAME group key: column NAME of the index.tsv beside the\n"
    "                         recordings, as velmora-eval reads it (one key:\n"
    "                         not with --group-by, and neither twice)\n"
    "  --folds K              cross-validation folds (2 .. number of groups)\n"
    "  --trials N             candidates per search (default 100)\n"
    "  --seed S               seed of the search (default 1)\n"
    "  --select RULE          when a candidate keeps the budget on its training\n"
    "                         people: train (its rate), bound[:LEVEL] (the upper\n"
    "                         confidence bound of its rate, LEVEL default 0.8),\n"
    "                         people[:SHARE] (its rate, and at most SHARE of\n"
    "                         the people above the budget, default 0.2), flat\n"
    "                         (its rate and its neighbours'); default train\n"
    "  --max-moved N          change at most N settings from the base (default 2;\n"
    "                         0: any number)\n"
    "  -o FILE                settings file of the final search\n"
    "  --csv FILE             every candidate of every search\n"
    "  --print-space          print the default space and exit\n"
    "explain:\n"
    "  --space FILE           settings to try (default: the search's default space)\n"
    "  --csv FILE, --json FILE\n"
    "Sharding (sweep and search):\n"
    "  --shard K/N --part FILE  evaluate only the K-th of N parts and write a\n"
    "                         part file instead of the outputs (a sweep deals\n"
    "                         grid points, a search deals its K+1 searches)\n"
    "  -h, --help, --version\n"
    "An output FILE '-' is standard output; the table is then left out.\n"
    "\n"
    "Exit status: 0 success, 1 unreadable recordings or outputs, or no candidate\n"
    "within the limit, 2 bad command line, settings, space or part files, 3 a\n"
    "search (or merge of one) whose pooled held-out false alarms per hour lie\n"
    "above the budget: the settings file is written, with a warning.\n"
    "\n"
    "Example:\n"
    "  velmora-tune search --group-by '_(SA[0-9]+)_' --folds 5 --max-fa-per-hour 1 \\\n"
    "      --trials 1000 -j 2 -o tuned.settings data/sisfall/\n";

int tuneMain(int argc, char** argv) {
  Options options;
  VelmoraDefaultSettings(&options.settings);
  bool helpShown = false;
  bool versionShown = false;
  if (const std::string error = parseArguments(argc, argv, options, helpShown, versionShown);
      !error.empty()) {
    return usageError(error);
  }
  if (helpShown) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (versionShown) {
    std::fputs(versionText().c_str(), stdout);
    return 0;
  }
  if (options.command != Command::Merge) {
    if (const std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
      return usageError(error);
    }
  }
  switch (options.command) {
    case Command::Sweep:
      return sweepCommand(options);
    case Command::Compare:
      return compareCommand(options);
    case Command::Search:
      return searchCommand(options);
    case Command::Explain:
      return explainCommand(options);
    case Command::Merge:
      return mergeCommand(options);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return runTool(kProgram, argc, argv, tuneMain); }
