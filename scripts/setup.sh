#!/usr/bin/env bash
# Makes a fresh Debian machine ready to build and test, with any further packages named as arguments (the
# benchmark's tools); does nothing when all is there.
# Never installs wine32: on these machines it breaks the 64-bit "wine" launcher.
set -euo pipefail

packages=(cmake make g++-mingw-w64-x86-64 wine wine64 xvfb xauth libz-mingw-w64-dev python3
          fonts-ipafont-gothic locales imagemagick python3-cryptography osslsigncode openssl
          tinyproxy nginx-light "$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # The tests start their own proxy and TLS server; the system's services that come with them stay off.
  for service in tinyproxy nginx; do
    case " ${missing[*]} " in *" $service"*) $sudo service "$service" stop >/dev/null 2>&1 || true ;; esac
  done
fi

# Wine's ANSI code page is 932 only under a generated Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: generating ja_JP.UTF-8"
  $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
