#include "Help.hpp"

#include <ostream>

#include <tallowmere/Paths_tallowmere.hpp>

namespace tallowmere::cli {

void printHelp(std::ostream& out) {
  out << R"(Usage: tallowmere [OPTIONS] [[N%] FILE|DIR]...
       tallowmere SUBCOMMAND [ARGUMENTS]...

Prints a random fortune, every fortune of the collection equally likely. Without FILE the
fortune files along the search path of the chosen kind are used. A DIR stands for the
fortune files in it; a FILE that does not exist as given is looked up by name along the
search path. N% before a FILE or DIR gives it that share of the draws; the rest is spread
over the others by their number of fortunes. Empty fortunes are never drawn. Files of the
classic fortune tools are read through their FILE.dat when they have no index of ours.

Options:
  -a, --all             use all fortunes, offensive ones included
  -o, --offensive       use only offensive fortunes (the default kind is the inoffensive)
  -e, --equal           make every file equally likely instead of every fortune
  -s, --short           only short fortunes: at most --length characters
  -l, --long            only long fortunes: more than --length characters
  -n, --length N        the length in characters that divides short from long (160)
  -m, --match REGEX     print every fortune that matches REGEX (POSIX extended syntax),
                        each followed by a delimiter line, and the name of each file with
                        matches on standard error; exit status 1 when nothing matched
  -i, --ignore-case     match REGEX regardless of case
  -c, --show-file       print the name of the file before the fortune
  -f, --files           print the files that would be used, each with its share of the
                        draws in percent, and no fortune
  -d, --delimiter CHAR  the character of the delimiter lines (default %)
  -w, --wait            wait long enough to read the fortune before exiting
      --today           the fortune of the day: the same all day long for the same
                        files and options, another the next day
      --fresh           a fortune not shown by an earlier --fresh draw, until every
                        fortune (of the files and length chosen) has been shown once;
                        then a new round begins. Not with -e or N% shares
      --json            print JSON Lines: for a draw and -m, one object per fortune
                        {"file","number","text","characters","lines"}; for -f, one per
                        file {"file","percent","count"}. "text" is the fortune as
                        printed without --json, without the newline that ends it
      --seed N          seed the random generator, for a repeatable draw
      --help            print this help and exit
      --version         print the version and exit

Subcommands (a fortune file named like one of them is reached as ./NAME):
  index [-d CHAR] [--dat] FILE...
                             rebuild each FILE's index, FILE.ix, from its text (and its
                             FILE.dat for the classic tools, when it has one or --dat asks)
  add [-d CHAR] FILE [TEXT]  append TEXT, or standard input, to FILE as one fortune
                             (FILE is created when missing)
  get [-d CHAR] [--json] FILE N
                             print fortune number N of FILE, counting from 0
  count [-d CHAR] [--json] FILE
                             print the number of fortunes in FILE (empty ones not counted)
  stats [-d CHAR] [--json] FILE
                             print the statistics of FILE's fortunes
  check [-d CHAR] FILE...    check each stored index and whether it still matches its text
  list [-a|-o] [--json]      print the fortune files along the search path
  serve [--listen HOST:PORT] [OPTIONS] [[N%] FILE|DIR]...
                             serve the fortunes a draw would use over HTTP (a page, text,
                             JSON, permalinks, search); `tallowmere serve --help` says more
  (--json: one JSON object a line, with the fields of the plain output and "file")
  (-d names the delimiter of a file indexed with another than %: the index does not say)

Environment:
  TALLOWMERE_PATH_NORMAL, TALLOWMERE_PATH_OFFENSIVE, TALLOWMERE_PATH_ALL, TALLOWMERE_PATH
      the search path of a kind (or of every kind): directories separated by ':', a '+'
      before a directory to search below it too
  tallowmere_datadir
      the data directory; its data/normal, data/offensive and data hold the fortunes of
      the three kinds (now: )"
      << getDataDir() << R"()
  tallowmere_classicdir
      the classic collection (fortune's), used when no search path variable is set and
      the data directory holds no fortune file; its off/ holds the offensive kind
      (default /usr/share/games/fortunes)

  TALLOWMERE_TODAY
      the date (YYYY-MM-DD) that --today takes for today, to see another day's fortune
  XDG_STATE_HOME, HOME
      --fresh keeps its rounds in $XDG_STATE_HOME/tallowmere (default
      ~/.local/state/tallowmere), a few numbers per set of files and options; without
      either variable it draws without them

Exit status: 0 on success, 1 when a file cannot be used, there is nothing to draw, -m
matched nothing or a check finds a problem, 2 for a mistake in the command line.

Examples:
  tallowmere                         a fortune
  tallowmere -s computing            a short one from the file named computing
  tallowmere 70% work wisdom         fortunes from work 70% of the time
  tallowmere -m 'coffee|tea' -i      every fortune about coffee or tea
  tallowmere --fresh                 a fortune not shown lately, at each login
  tallowmere add mine 'Keep it short.'
)";
}

void printVersion(std::ostream& out) { out << "tallowmere " << showVersion(version()) << '\n'; }

}  // namespace tallowmere::cli
