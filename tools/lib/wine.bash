# shellcheck shell=bash
# Which Wine this machine can run. Some hosts run 64-bit user code only: the
# kernel refuses every 32-bit executable (execve fails with ENOEXEC), so the
# 32-bit loader, a 32-bit prefix and WOW64 cannot start at all, while 64-bit
# Wine works. Debian's `wine` script still picks the 32-bit loader when it is
# installed, so such a host must name the 64-bit one itself.

wine_loader32=/usr/lib/wine/wine
wine_loader64=/usr/lib/wine/wine64

# True when the 32-bit loader runs here: it is a 32-bit executable itself, so
# it answers for the kernel as well as for the package.
wine_runs_32bit() {
    "$wine_loader32" --version >/dev/null 2>&1
}

# The loader to start Windows programs with: the packaged `wine` where 32-bit
# code runs, else the 64-bit loader, which then also starts the prefix's
# helper programs (WINELOADER).
wine_loader() {
    if wine_runs_32bit || [[ ! -x $wine_loader64 ]]; then
        echo wine
    else
        echo "$wine_loader64"
    fi
}

wine_no_32bit_reason="this machine runs no 32-bit code (its kernel refuses 32-bit executables), so neither a 32-bit prefix nor WOW64 can start"
