#!/usr/bin/env bash
# Signs each file named (a program, an MSI package, an NSIS setup) in place
# with Authenticode (SHA-256), when SIGN_PFX names a PKCS#12 file holding the
# code-signing certificate and its key; SIGN_PASSWORD is that file's password.
# Without SIGN_PFX it signs nothing and says nothing.
#   SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server: the signature then stays
#                       valid after the certificate expires (no default: a build
#                       must not depend on the network unless asked to)
#   SIGN_DESCRIPTION    the name the consent prompt shows   default "NIMBA Sample Suite"
set -euo pipefail
[ -n "${SIGN_PFX:-}" ] || exit 0
if [ ! -r "$SIGN_PFX" ]; then
  echo "SIGN_PFX: cannot read $SIGN_PFX" >&2
  exit 1
fi
timestamp=()
[ -n "${SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$SIGN_TIMESTAMP_URL")
for file in "$@"; do
  # The password goes through a pipe, not the command line, which any local
  # user may read.
  osslsigncode sign -pkcs12 "$SIGN_PFX" -readpass <(printf '%s' "${SIGN_PASSWORD:-}") -h sha256 \
    -n "${SIGN_DESCRIPTION:-NIMBA Sample Suite}" "${timestamp[@]}" -in "$file" -out "$file.signed" >/dev/null
  chmod --reference="$file" "$file.signed"
  mv "$file.signed" "$file"
done
