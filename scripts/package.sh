#!/usr/bin/env bash
# Builds the Debian packages kavdm (command line, simulated receiver, image
# tools; no Qt) and kavdm-gui (the desktop application) with dpkg-buildpackage
# from a copy of the source tree, then checks them with lintian.
# Usage: scripts/package.sh [FOLDER]   (default: out/packages, which git ignores)
# Install them with: sudo apt install FOLDER/kavdm_*.deb FOLDER/kavdm-gui_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# One version: the project's, which debian/changelog must repeat.
version=$(sed -n 's/^project(kavdm VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
packaged=$(dpkg-parsechangelog -S Version)
if [ "${version}" != "${packaged}" ]; then
  echo "debian/changelog is at ${packaged} but the project is at ${version}: add a changelog entry (dch -v ${version})" >&2
  exit 1
fi

out=$(realpath -m "${1:-out/packages}")
work="${out}/kavdm-${version}"
rm -rf "${work}"
mkdir -p "${work}"
rm -f "${out}"/kavdm*_"${version}"*

# The source tree as git sees it (tracked and new files, nothing ignored), or
# the folder without build trees when it is no git checkout.
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  git ls-files -co --exclude-standard | while IFS= read -r f; do [ -e "$f" ] && printf '%s\n' "$f"; done \
    | tar -cf - -T - | tar -xf - -C "${work}"
else
  tar -cf - --exclude='./build*' --exclude=./out . | tar -xf - -C "${work}"
fi

# Reuse compiled objects between runs when ccache is there.
if [ -d /usr/lib/ccache ]; then
  export PATH="/usr/lib/ccache:${PATH}"
  export CCACHE_DIR="${CCACHE_DIR:-${HOME}/.ccache}"
  # The copy's path differs between runs; the compiler maps it away
  # (-ffile-prefix-map), so it need not count in the cache key.
  export CCACHE_BASEDIR="${work}" CCACHE_NOHASHDIR=1
fi

(cd "${work}" && dpkg-buildpackage -us -uc -j"$(nproc)")
rm -rf "${work}"

changes="${out}/kavdm_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).changes"
if command -v lintian > /dev/null; then
  echo "== lintian"
  lintian --fail-on error,warning "${changes}"
else
  echo "lintian is not installed: the packages were not checked" >&2
fi
echo "== packages in ${out}:"
ls -1 "${out}"/*.deb
