# Sourced by the scripts that cross-build a library into a stamped folder of the build cache
# (build-openssl-mingw.sh, build-libpq-mingw.sh). Each folder's .vrax-complete names what it was
# built from; a folder with another stamp is built again.

# source_versions PACKAGE: the versions of Debian's source package the mirrors list, newest first.
source_versions() {
    "$HERE/../packaging/add-deb-src.sh" "$1"
    apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -rVu
}

# newest_served PACKAGE VERSION...: the first of these versions whose source a mirror serves, by
# its small .dsc alone (an index can list a security update before its files reach the
# mirror): what a build fetches, and so what its stamp names.
newest_served() {
    local package=$1 version probe
    shift
    probe=$(mktemp -d)
    for version in "$@"; do
        if (cd "$probe" && apt-get source --dsc-only "$package=$version" >/dev/null 2>&1); then
            rm -rf "$probe"
            echo "$version"
            return 0
        fi
    done
    rm -rf "$probe"
    echo "No version of $package's source is served." >&2
    return 1
}

# The cross-compiler, by its package's version: another compiler builds the libraries again.
mingw_compiler_version() {
    dpkg-query -W -f='${Version}' gcc-mingw-w64-x86-64-posix 2>/dev/null ||
        x86_64-w64-mingw32-gcc-posix --version | head -n 1
}

# recipe_stamp SOURCE-PACKAGE VERSION EXTRA...: what a folder built now would be stamped with.
recipe_stamp() {
    local package=$1 version=$2
    shift 2
    echo "$package $version script $(sha256sum "$SCRIPT" | cut -c1-16)" \
         "compiler $(mingw_compiler_version)${*:+ $*}"
}

# take_cached PREFIX STAMP: succeeds when PREFIX holds that build, already or restored from a
# packed copy beside the checkout. Holds the folder's lock until the script ends, so a second
# build of it waits and then finds it complete.
take_cached() {
    local prefix=$1 stamp=$2 cache folder
    cache=$(dirname "$prefix")
    folder=$(basename "$prefix")
    mkdir -p "$cache"
    exec 8>"$cache/.build-lock-$folder"
    flock 8
    if [ "$(cat "$prefix/.vrax-complete" 2>/dev/null)" = "$stamp" ]; then
        echo "cache: $folder kept" >&2
        return 0
    fi
    "$HERE/../packaging/restore-cache.sh" "$cache" "$folder" "$stamp"
}

# fetch_source PACKAGE VERSION...: downloads the first of these versions a mirror serves (a
# security update can be listed before its files reach the mirror) and prints it.
fetch_source() {
    local package=$1 version
    shift
    for version in "$@"; do
        if apt-get source --download-only "$package=$version" >/dev/null 2>&1; then
            echo "$version"
            return 0
        fi
    done
    echo "No version of $package's source could be fetched." >&2
    return 1
}
