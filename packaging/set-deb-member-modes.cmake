# SPDX-License-Identifier: MIT
# Run by cpack once it has made the Debian package. CPack writes the
# package's members (debian-binary, control.tar.gz, data.tar.gz) to disk
# with the builder's umask and copies their modes into the package's ar
# headers, so a umask of 077 would change the bytes. Each header's mode is
# set to 100644 here, as dpkg-deb writes it.
set(set_modes [[
open(my $deb, '+<:raw', $ARGV[0]) or die "$ARGV[0]: $!\n";
for (my $at = 8; seek($deb, $at, 0) && read($deb, my $header, 60) == 60;) {
    my $size = substr($header, 48, 10) + 0;
    seek($deb, $at + 40, 0) or die;
    print $deb sprintf('%-8s', '100644');
    $at += 60 + $size + $size % 2;
}
close($deb) or die "$ARGV[0]: $!\n";
]])
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND perl -e "${set_modes}" "${package}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
