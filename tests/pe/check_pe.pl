#!/usr/bin/perl
# Checks the built Windows program as a file, with binutils' MinGW-w64 tools:
# a GUI-subsystem x86-64 PE that imports Windows system DLLs only (no MinGW
# runtime DLL beside it), and the resources of resources/SablewickAgentSetup.rc
# with their types, ids, languages and bytes.
#
#   perl tests/pe/check_pe.pl <SablewickAgentSetup.exe> <embedded package.msi>
#
# Prints "pe check: <n> checks, <n> failures" and exits non-zero on a failure.
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Temp qw(tempdir);

my ($exe, $package) = @ARGV;
die "usage: $0 <program.exe> <package.msi>\n" unless defined $package;
my $resources = dirname(__FILE__) . "/../../resources";
my $objdump = "x86_64-w64-mingw32-objdump";
my $objcopy = "x86_64-w64-mingw32-objcopy";

my ($checks, $failures) = (0, 0);
sub check {
    my ($what, $ok) = @_;
    $checks++;
    return if $ok;
    $failures++;
    print "  FAILED: $what\n";
}
sub slurp {
    my ($file) = @_;
    open(my $in, '<:raw', $file) or die "$file: $!\n";
    local $/;
    return scalar <$in>;
}

# ---------------------------------------------------------------- headers
my $headers = `$objdump -f "$exe"`;
check("file format pei-x86-64", $headers =~ /file format pei-x86-64/);
check("architecture i386:x86-64", $headers =~ /architecture: i386:x86-64/);
my $private = `$objdump -p "$exe"`;
check("PE32+ (Magic 020b)", $private =~ /^Magic\s+020b/m);
check("Windows GUI subsystem", $private =~ /^Subsystem\s+00000002\s+\(Windows GUI\)/m);

# ---------------------------------------------------------------- imports
# DLLs that every Windows from 7 on carries in System32; an API set
# (api-ms-win-*) or a MinGW runtime DLL fails.
my %system = map { $_ => 1 } qw(
    kernel32.dll advapi32.dll user32.dll shell32.dll ole32.dll oleaut32.dll
    iphlpapi.dll userenv.dll wtsapi32.dll msvcrt.dll ws2_32.dll mswsock.dll
    bcrypt.dll gdi32.dll shlwapi.dll version.dll secur32.dll crypt32.dll rpcrt4.dll);
my @imports = map { lc } ($private =~ /^\s*DLL Name: (\S+)/mg);
check("imports some DLL", @imports > 0);
for my $dll (@imports) {
    check("import $dll is a Windows system DLL", $system{$dll});
}

# ---------------------------------------------------------------- resources
# objdump prints the resource tree: types, names, languages and leaves with
# their RVA and size; the bytes come from the .rsrc section.
my ($rsrc_rva) = $private =~ /^Entry 2 ([0-9a-f]+) [0-9a-f]+ Resource Directory/m;
check("has a resource directory", defined $rsrc_rva);
exit(1) unless defined $rsrc_rva;
my $dir = tempdir(CLEANUP => 1);
system($objcopy, "-O", "binary", "--only-section=.rsrc", $exe, "$dir/rsrc.bin") == 0
    or die "objcopy failed\n";
my $rsrc = slurp("$dir/rsrc.bin");

my %found;    # "type/name/language" => bytes
my @path;
for my $line (split /\n/, substr($private, index($private, "The .rsrc Resource Directory"))) {
    if ($line =~ /^[0-9a-f]+( +)Entry: (?:name: \[[^\]]*\]: (\S+)|ID: 0x([0-9a-f]+)), Value/) {
        my $level = (length($1) - 3) / 2;    # 0 type, 1 name, 2 language
        $path[$level] = defined $2 ? $2 : hex($3);
        $#path = $level;
    } elsif ($line =~ /Leaf: Addr: 0x([0-9a-f]+), Size: 0x([0-9a-f]+)/) {
        $found{join "/", @path} = substr($rsrc, hex($1) - hex($rsrc_rva), hex($2));
    } elsif ($line =~ /^\s*(?:String table|Resources start)/) {
        last;
    }
}

my ($en_us, $en_ca) = (0x0409, 0x1009);
my ($RT_ICON, $RT_STRING, $RT_GROUP_ICON, $RT_VERSION, $RT_MANIFEST) = (3, 6, 14, 16, 24);
my %expected = (
    "MSI/102/$en_us" => slurp($package),
    "CFG/104/$en_ca" => slurp("$resources/SablewickRemote.cfg"),
    "DAT/107/$en_ca" => slurp("$resources/SablewickRemote.dat"),
    "$RT_MANIFEST/1/$en_us" => slurp("$resources/SablewickAgentSetup.manifest"),
);
for my $key (sort keys %expected) {
    check("resource $key: the file's bytes",
          exists $found{$key} && $found{$key} eq $expected{$key});
}
check("manifest level asInvoker",
      ($found{"$RT_MANIFEST/1/$en_us"} // "") =~ /requestedExecutionLevel\s+level="asInvoker"/);

# String block 7 holds ids 96 to 111: each entry a 16-bit length and that
# many UTF-16LE units.
my %strings;
if (my $block = $found{"$RT_STRING/7/$en_us"}) {
    my $at = 0;
    for my $id (96 .. 111) {
        my $length = unpack("v", substr($block, $at, 2));
        $strings{$id} = pack("U*", unpack("v*", substr($block, $at + 2, 2 * $length)));
        $at += 2 + 2 * $length;
    }
}
check("string 105: the error text",
      ($strings{105} // "") eq "The installation image is corrupted, please try to download "
      . "installation again.\r\n\r\nAdditional error details: %1%");
check("string 106: the caption", ($strings{106} // "") eq "SablewickAgentSetup");

# The version block: its fixed part (after the 0xFEEF04BD signature) and the
# string values.
my $version = $found{"$RT_VERSION/1/$en_us"} // "";
my $fixed = index($version, pack("V", 0xFEEF04BD));
my @fixed = $fixed >= 0 ? unpack("V*", substr($version, $fixed, 52)) : ();
check("version: file version 1.0.45.1871",
      @fixed && $fixed[2] == ((1 << 16) | 0) && $fixed[3] == ((45 << 16) | 1871));
check("version: product version 1.0.0.0",
      @fixed && $fixed[4] == ((1 << 16) | 0) && $fixed[5] == 0);
my $text = pack("U*", unpack("v*", $version));
for my $value ("CompanyName\0+Sablewick", "FileDescription\0+Sablewick Remote Setup 64-bit",
               "FileVersion\0+1\\.0\\.45\\.1871", "OriginalFilename\0+SablewickAgentSetup\\.exe",
               "ProductName\0+SablewickAgentSetup", "040904b0", "VarFileInfo") {
    (my $name = $value) =~ s/\0.*//s;
    check("version: $name", $text =~ /$value/);
}

# The icon group 101 names icons 1 to 4, which are the .ico's images in its
# order.
my $ico = slurp("$resources/SablewickAgentSetup.ico");
my (undef, undef, $count) = unpack("v3", $ico);
my $group = $found{"$RT_GROUP_ICON/101/$en_ca"} // "";
check("icon group 101 with $count icons",
      length($group) == 6 + 14 * $count && (unpack("v3", $group))[2] == $count);
for my $i (0 .. $count - 1) {
    my ($size, $offset) = unpack("V2", substr($ico, 6 + 16 * $i + 8, 8));
    my $id = length($group) >= 6 + 14 * ($i + 1) ? unpack("v", substr($group, 6 + 14 * $i + 12, 2)) : -1;
    check("icon " . ($i + 1) . ": image $i of the .ico",
          $id == $i + 1 && ($found{"$RT_ICON/$id/$en_ca"} // "") eq substr($ico, $offset, $size));
}

my %wanted = map { $_ => 1 } (keys %expected, "$RT_STRING/7/$en_us", "$RT_VERSION/1/$en_us",
                               "$RT_GROUP_ICON/101/$en_ca", map { "$RT_ICON/$_/$en_ca" } 1 .. $count);
for my $key (sort keys %found) {
    check("resource $key belongs to the script", $wanted{$key});
}
for my $key (sort keys %wanted) {
    check("resource $key present", exists $found{$key});
}

print "pe check: $checks checks, $failures failures\n";
exit($failures == 0 ? 0 : 1);
