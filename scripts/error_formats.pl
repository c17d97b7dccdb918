#!/usr/bin/perl
# Writes the module's level-3 line formats as a C++ table, for qvrhost
# explain: the installer log does not carry the sink's levels, so the lines
# are known by their formats, taken from the sources at build time.
# Usage: error_formats.pl OUTPUT.cpp SOURCE...
#
# A format is a level-3 line when it is the format argument of
# LogLine(sink, kLogError, FORMAT, ...), sink->Write(kLogError, FORMAT, ...)
# or a failure check CheckSuccess/CheckNotFailed(sink, code, FORMAT, ...).
# FORMAT may be a literal, a member of a table of lines (each initializer of
# that struct contributes its literal at the member's place) or a parameter
# of the enclosing function (each call contributes its literal there).
use strict;
use warnings;

my ($output, @sources) = @ARGV;
die "usage: $0 OUTPUT.cpp SOURCE...\n" unless $output && @sources;

my $literal = qr/L"(?:[^"\\]|\\.)*"/;
my $code = '';
for my $file (@sources) {
  open(my $in, '<', $file) or die "$file: $!\n";
  local $/;
  my $text = <$in>;
  # Comments go; literals stay as written (a // inside one is not a comment).
  $text =~ s{($literal|"(?:[^"\\]|\\.)*"|'(?:[^'\\]|\\.)*')|//[^\n]*|/\*.*?\*/}{defined $1 ? $1 : ' '}gse;
  # Adjacent literals are one.
  1 while $text =~ s/(L"(?:[^"\\]|\\.)*)"\s*L"/$1/g;
  $code .= "$text\n";
}

# The text inside the parentheses that open at $open, and the top-level
# pieces of a comma- or brace-list.
sub balanced {
  my ($text, $open, $close) = @_;
  my ($depth, $i) = (0, $_[3]);
  for (; $i < length $text; ++$i) {
    my $c = substr($text, $i, 1);
    if ($c eq '"') {
      pos($text) = $i;
      $text =~ /\G"(?:[^"\\]|\\.)*"/gc or last;
      $i = pos($text) - 1;
    } elsif ($c eq $open) {
      ++$depth;
    } elsif ($c eq $close && --$depth == 0) {
      return substr($text, $_[3] + 1, $i - $_[3] - 1);
    }
  }
  return '';
}
sub pieces {
  my ($text) = @_;
  my @parts;
  my ($depth, $part) = (0, '');
  while ($text =~ /\G($literal|"(?:[^"\\]|\\.)*"|[({\[]|[)}\]]|,|[^,"(){}\[\]L]+|L)/gc) {
    my $t = $1;
    if ($t =~ /^[({\[]$/) { ++$depth } elsif ($t =~ /^[)}\]]$/) { --$depth }
    if ($t eq ',' && $depth == 0) { push @parts, $part; $part = ''; next }
    $part .= $t;
  }
  push @parts, $part if $part =~ /\S/;
  s/^\s+|\s+$//g for @parts;
  return @parts;
}

my %formats;
my (%members, %parameters);
sub take {
  my ($argument) = @_;
  return unless defined $argument;
  if ($argument =~ /^($literal)$/) { $formats{$1} = 1 }
  elsif ($argument =~ /(?:\.|->)(\w+)$/) { $members{$1} = 1 }
  elsif ($argument =~ /^(\w+)$/) { $parameters{$1} = 1 }
}

while ($code =~ /\b(LogLine|Write|CheckSuccess|CheckNotFailed)\s*(?=\()/g) {
  my $call = $1;
  my @args = pieces(balanced($code, '(', ')', pos($code)));
  if ($call eq 'LogLine') { take($args[2]) if @args > 2 && $args[1] =~ /\bkLogError\b/ }
  elsif ($call eq 'Write') { take($args[1]) if @args > 1 && $args[0] =~ /\bkLogError\b/ }
  else { take($args[2]) }
}

# Members: their place in the struct, then every braced initializer of it.
my %structs;
while ($code =~ /\bstruct\s+(?:\w+::)*(\w+)\s*(?=\{)/g) {
  $structs{$1} = [map { /(\w+)\s*(?:=[^;]*)?$/ ? $1 : '' } grep { /\S/ } split /;/, balanced($code, '{', '}', pos($code))];
}
for my $type (sort keys %structs) {
  my @fields = @{$structs{$type}};
  for my $index (grep { $members{$fields[$_]} } 0 .. $#fields) {
    while ($code =~ /\b\Q$type\E\s+\w+\s*(?=\{)/g) {
      my @values = pieces(balanced($code, '{', '}', pos($code)));
      take($values[$index]) if $index < @values && $values[$index] =~ /^$literal$/;
    }
  }
}

# Parameters: their place in the function's definition, then every call.
my @calls;
while ($code =~ /\b(\w+)\s*(?=\()/g) {
  push @calls, [$1, [pieces(balanced($code, '(', ')', pos($code)))]];
}
for my $name (sort keys %parameters) {
  for my $definition (@calls) {
    my ($function, $declared) = @$definition;
    for my $index (grep { $declared->[$_] =~ /\bconst\s+wchar_t\s*\*\s*\Q$name\E$/ } 0 .. $#$declared) {
      for my $call (grep { $_->[0] eq $function } @calls) {
        my $argument = $call->[1][$index];
        take($argument) if defined $argument && $argument =~ /^$literal$/;
      }
    }
  }
}

open(my $out, '>', "$output.new") or die "$output: $!\n";
print $out "// Made by scripts/error_formats.pl from the module's sources at build time.\n";
print $out "#include \"tools/qvrhost/error_formats.h\"\n\nnamespace qvrhost {\n\n";
print $out "const std::vector<std::wstring_view>& ModuleErrorFormats() {\n";
print $out "  static const std::vector<std::wstring_view> kFormats{\n";
print $out "      $_,\n" for sort keys %formats;
print $out "  };\n  return kFormats;\n}\n\n}  // namespace qvrhost\n";
close($out) or die "$output: $!\n";
rename("$output.new", $output) or die "$output: $!\n";
