#!/bin/bash
# Makes the image deploy/Dockerfile starts from, docker.io/library/debian:bookworm,
# where no registry can be reached: a minimal Debian 12 made with debootstrap
# from the archive this machine's apt uses (its sources and its Acquire
# settings go into the image, so that apt inside reaches the archive as apt
# here does), imported into podman. It is kept as
# localhost/vistrel-base:<recipe>, so a second call with the same recipe (the
# sources, the settings, debootstrap's version) only tags it again.
#
#   deploy/debian-base.sh [folder for debootstrap's tree and log, default .]
#
# Needs root, debootstrap and podman. Exits 2 when apt has no Debian source,
# 3 when debootstrap cannot fetch the packages (its log says why).
set -euo pipefail
folder=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)
suite=bookworm

# The Debian entries of apt's sources (one-line and deb822 files): the first
# one of the main component gives the mirror, and every entry for the suite
# (with its -updates and -security) the image's sources.list.
sources=$(python3 - "$suite" <<'EOF'
import glob, re, sys
suite = sys.argv[1]
entries = []
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        lines = open(path).read().splitlines()
    except OSError:
        continue
    for line in lines:
        words = re.sub(r"\[[^]]*\]", " ", line.split("#", 1)[0]).split()
        if len(words) >= 4 and words[0] == "deb":
            entries.append((words[1], [words[2]], words[3:]))
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    for stanza in re.split(r"\n\s*\n", open(path).read()):
        fields, key = {}, None
        for line in stanza.splitlines():
            if line.startswith("#") or not line.strip():
                continue
            if line[0].isspace() and key:
                fields[key] += " " + line.strip()
            else:
                key, _, value = line.partition(":")
                key = key.strip().lower()
                fields[key] = value.strip()
        if "deb" not in fields.get("types", "").split() or fields.get("enabled", "yes").lower() == "no":
            continue
        for uri in fields.get("uris", "").split():
            entries.append((uri, fields.get("suites", "").split(), fields.get("components", "").split()))
mirror = next((uri for uri, suites, components in entries
               if "main" in components and any(not s.endswith("-security") for s in suites)), None)
if mirror:
    print("mirror", mirror.rstrip("/"))
    for uri, suites, components in entries:
        for s in suites:
            if "main" in components and s in (suite, suite + "-updates", suite + "-security"):
                print(f"deb {uri.rstrip('/')} {s} main")
EOF
)
mirror=$(sed -n 's/^mirror //p' <<<"$sources")
[[ -n "$mirror" ]] || { echo "apt has no Debian source of the main component to make the base from" >&2; exit 2; }
list=$(grep '^deb ' <<<"$sources" || echo "deb $mirror $suite main")
# What apt here needs to reach the archive (a proxy, a snapshot's old dates).
settings=$(apt-config dump | grep -E '^Acquire::(Check-Valid-Until|Check-Date|Retries|(http|https|ftp)::Proxy) ' || true)
eval "$(apt-config shell http_proxy Acquire::http::Proxy)"
[[ -z "${http_proxy:-}" ]] || export http_proxy

recipe=$(printf '%s\n' "$suite minbase" "$mirror" "$list" "$settings" "$(debootstrap --version)" | sha256sum | cut -c1-16)
base=localhost/vistrel-base:$recipe
if ! podman image exists "$base"; then
  tree=$folder/debian-$suite
  rm -rf "$tree"
  if ! debootstrap --variant=minbase "$suite" "$tree" "$mirror" >"$folder/debootstrap.log" 2>&1; then
    echo "debootstrap could not make Debian $suite from $mirror: $(tail -3 "$folder/debootstrap.log" | tr '\n' ' ')" >&2
    rm -rf "$tree"
    exit 3
  fi
  printf '%s\n' "$list" >"$tree/etc/apt/sources.list"
  [[ -z "$settings" ]] || printf '%s\n' "$settings" >"$tree/etc/apt/apt.conf.d/01host-acquire"
  # As the official image: no package files or lists left behind.
  rm -rf "$tree"/var/cache/apt/archives/*.deb "$tree"/var/lib/apt/lists/* "$tree"/var/log/*.log
  tar -C "$tree" --numeric-owner -c . |
    podman import --change 'ENV PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin' \
      --change 'CMD ["bash"]' - "$base" >/dev/null
  rm -rf "$tree"
fi
podman tag "$base" docker.io/library/debian:$suite
echo "$base"
