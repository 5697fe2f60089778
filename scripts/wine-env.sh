# Wine's environment for the programs of the Windows build: the one place it
# is defined. The scripts that start wine source this file with wine_home
# set to the folder that holds their prefix; tests/windows/CMakeLists.txt
# reads the same export lines, ${wine_home} replaced, for its tests.
export WINEPREFIX=${wine_home}/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or HTML engine to install, and no crash debugger: a crashing test
# would otherwise wait in winedbg for minutes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

# Ends the prefix: its wine server and every process started in it.
# wineserver -k kills the processes the server knows; one that was still
# starting when the server went away waits for it forever, holding whatever
# output it inherited (a test's, which its runner then waits for), so any
# process left with this prefix in its environment is killed as well.
end_wine_prefix() {
  wineserver -k 2>/dev/null
  local file pid
  for file in $(grep -lsxzF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ); do
    pid=${file#/proc/}
    pid=${pid%/environ}
    [ "$pid" = "$$" ] || kill -9 "$pid" 2>/dev/null
  done
  return 0
}
