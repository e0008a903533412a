# Sourced by the scripts that install Debian packages or fetch from the Debian archive.

# Installs those of the named packages that are not installed yet, through sudo when not run as
# root. When all are there it does nothing, not even an `apt-get update`.
install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
}

# The Debian archive this machine's bookworm packages come from (empty when none is configured).
bookworm_archive() {
    local mirror
    mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' \
                 2>/dev/null | awk '$2 == "bookworm" { print $1; exit }')
    if [ -z "$mirror" ]; then
        mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
    fi
    printf '%s\n' "$mirror"
}
