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
