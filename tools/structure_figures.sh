#!/bin/sh
# Prints figures of the program's structure, counted over the program's own sources (the
# C++ files git knows, without tests/ and bench/):
#   - mutable globals: variables at namespace scope or file-static that are not const
#     (class members and const/constexpr constants left out), one line each;
#   - function-local statics that are not const (state kept between calls), one line each;
#   - "catch (...)" handlers, and how many of them have no statement (only comments or nothing);
#   - throw sites ("throw" in code, comments and string literals left out), per file;
#   - the ten longest functions, in lines from their first to their last line.
# Needs Universal Ctags (ctags), perl, awk and git. Run from anywhere inside the work tree;
# --list-only-globals prints the globals' lines alone.

set -eu

cd "$(git rev-parse --show-toplevel)"

files() {
    git ls-files -- '*.cpp' '*.h' | grep -v -e '^tests/' -e '^bench/'
}

# Variables with their scope kind, type and properties, as Universal Ctags sees them:
# file:line, name, scope kind, type, properties, source line.
variables() {
    files | ctags -x --languages=C++ --kinds-C++="$1" --fields-C++=+'{properties}' \
        --_xformat='%{input}:%{line}	%{name}	%{scopeKind}	%{typeref}	%{C++.properties}	%{pattern}' \
        -L - | LC_ALL=C sort -t: -k1,1 -k2,2n
}

# Keeps the variables that can be changed: a type that is const at its top level (a pointer
# only when the pointer itself is const) or a constexpr declaration is a constant.
mutable_only() {
    awk -F'\t' '
    {
        type = $4
        sub(/^typename:/, "", type)
        sub(/ *\[[^]]*\]$/, "", type)
        if ($6 ~ /(^|[^A-Za-z0-9_])constexpr([^A-Za-z0-9_]|$)/)
            next
        if (type ~ /\*/) {
            if (type ~ /\* *const$/)
                next
        } else if (type ~ /^const / || type ~ / const$/) {
            next
        }
        if (type ~ /&$/)
            next
        print
    }'
}

globals() {
    # Only kinds with a scope that is a namespace (named or anonymous) or none; members of a
    # class, struct or union are left out.
    variables v | awk -F'\t' '$3 == "" || $3 == "namespace"' | mutable_only
}

local_statics() {
    variables l | awk -F'\t' '$5 ~ /(^|,)static(,|$)/' | mutable_only
}

show() {
    awk -F'\t' '{ printf "  %-45s %s\n", $1, $2 }'
}

if [ "${1:-}" = "--list-only-globals" ]; then
    globals | show
    exit 0
fi

count=$(globals | wc -l)
echo "Mutable globals: $count"
globals | show

count=$(local_statics | wc -l)
echo "Function-local statics that are not const: $count"
local_statics | show

# Handlers and throws, with comments and string and character literals blanked first (line
# numbers kept), so that a "throw" in a comment or a text does not count.
files | perl -e '
    my ($catches, $empty, %throws, $throwTotal) = (0, 0);
    while (my $file = <STDIN>) {
        chomp $file;
        open(my $in, "<", $file) or next;
        local $/;
        my $text = <$in>;
        close $in;
        # Blank comments and literals, keeping newlines.
        $text =~ s{
            (//[^\n]*)
          | (/\*.*?\*/)
          | (R"([^(\s]*)\(.*?\)\4")
          | ("(?:\\.|[^"\\\n])*")
          | (\x27(?:\\.|[^\x27\\\n])*\x27)
        }{
            my $m = $&;
            my $keep = $m =~ /^(\/\/|\/\*)/ ? "" : substr($m, 0, 1);
            (my $blank = $m) =~ s/[^\n]/ /g;
            $keep eq "" ? $blank : $keep . substr($blank, 1)
        }gsex;
        $catches += () = $text =~ /\bcatch\s*\(\s*\.\.\.\s*\)/g;
        $empty += () = $text =~ /\bcatch\s*\(\s*\.\.\.\s*\)\s*\{\s*\}/g;
        my $n = () = $text =~ /\bthrow\b/g;
        if ($n) {
            $throws{$file} = $n;
            $throwTotal += $n;
        }
    }
    print "catch (...) handlers: $catches, of them empty: $empty\n";
    print "Throw sites: ", ($throwTotal // 0), "\n";
    printf "  %-45s %d\n", $_, $throws{$_} for sort keys %throws;
'

# Functions with their first and last line; lambdas inside are part of their function.
echo "Ten longest functions (lines):"
files | ctags -x --languages=C++ --kinds-C++=f --fields=+ne \
    --_xformat='%{input}:%{line}	%{scope}	%{name}	%{line}	%{end}' -L - |
    awk -F'\t' '$5 != "" {
        name = $2 == "" ? $3 : $2 "::" $3
        sub(/^__anon[0-9a-f]+::/, "", name)
        printf "%d\t%s\t%s\n", $5 - $4 + 1, $1, name
    }' |
    LC_ALL=C sort -t'	' -k1,1nr -k2,2 | head -n 10 |
    awk -F'\t' '{ printf "  %5d  %-45s %s\n", $1, $2, $3 }'
