#!/usr/bin/env bash
# The product's signing tool on the build machine, over Debian's openssl
# command line. The layouts it writes are read by signcheck_lib (see
# signcheck_lib/README.md):
#   sign.sh keys DIR                       the test product keys in DIR, made once (private keys stay in DIR)
#   sign.sh qsig KEY IN OUT                QSIG: ECDSA P-256 over SHA-256 of IN, in a trailer
#   sign.sh pxs KEY CERT IN OUT [attrs]    PXS: detached PKCS#7 SignedData (RSA, SHA-256) of IN, in a trailer;
#                                          with "attrs" the signature carries signed attributes
#   sign.sh exe KEY CERT IN OUT [unmarked] an executable with an embedded signature (its certificate table) whose
#                                          marking attribute holds the PXS signature of the image; "unmarked"
#                                          leaves the attribute out
# KEY and CERT are PEM files; OUT may not be IN.
set -euo pipefail

readonly kQsigMagic=QVRQSIG1 kPxsMagic=QVRPXS01
readonly kQsigKeyTag=QSK1 kEcdsaP256PublicMagic=45435331  # "ECS1", BCRYPT_ECDSA_PUBLIC_P256_MAGIC
readonly kMarkingOid=1.3.6.1.4.1.64128.1973.11

die() { echo "sign.sh: $*" >&2; exit 1; }

# Bytes as lower-case hex, and back.
hex_of() { od -An -v -tx1 "$1" | tr -d ' \n'; }
write_hex() { printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"; }
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
le16() { printf '%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
read_u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
read_u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }

# DER: TAG (hex) around BODY (hex).
der() {
  local n=$((${#2} / 2)) length
  if ((n < 128)); then length=$(printf %02x $n)
  elif ((n < 256)); then length=$(printf 81%02x $n)
  elif ((n < 65536)); then length=$(printf 82%04x $n)
  else length=$(printf 83%06x $n); fi
  printf %s%s%s "$1" "$length" "$2"
}

# The DER element of depth 2 number N (from 1) of a certificate: 2 the serial, 4 the issuer.
cert_element() {
  local line offset header length
  line=$(openssl asn1parse -inform DER -in "$1" | awk '/d=2 /' | sed -n "$2p")
  offset=${line%%:*}
  header=$(sed -n 's/.*hl= *\([0-9]*\).*/\1/p' <<<"$line")
  length=$(sed -n 's/.* l= *\([0-9]*\).*/\1/p' <<<"$line")
  tail -c +$((offset + 1)) "$1" | head -c $((header + length)) | od -An -v -tx1 | tr -d ' \n'
}

# IN, the signature (hex), its length and MAGIC into OUT.
append_trailer() {
  { cat "$1"; write_hex "$2$(le32 $((${#2} / 2)))"; printf %s "$3"; } >"$4"
}

make_keys() {
  local dir=$1 name
  mkdir -p "$dir"
  [ -f "$dir/complete" ] && return 0
  for name in qsig_root_a qsig_root_b qsig_foreign; do
    openssl ecparam -name prime256v1 -genkey -noout -out "$dir/$name.pem" 2>/dev/null
    # The QSIG library's key container: its tag, then a BCRYPT_ECCPUBLIC_BLOB (magic, key size, X, Y).
    { printf %s "$kQsigKeyTag"
      write_hex "$kEcdsaP256PublicMagic$(le32 32)"
      openssl ec -in "$dir/$name.pem" -pubout -outform DER 2>/dev/null | tail -c 64
    } >"$dir/$name.qsk"
  done
  for name in pxs_product pxs_foreign; do
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/O=Vantor/CN=${name//_/ } test signing" \
      -keyout "$dir/$name.key.pem" -out "$dir/$name.pem" 2>/dev/null
    openssl x509 -in "$dir/$name.pem" -outform DER -out "$dir/$name.cer"
  done
  touch "$dir/complete"
}

sign_qsig() {
  local key=$1 in=$2 out=$3 r s
  local tmp
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' RETURN
  openssl dgst -sha256 -sign "$key" -out "$tmp/sig.der" "$in"
  # The DER pair (r, s) as the raw r || s that BCryptVerifySignature takes.
  read -r r s < <(openssl asn1parse -inform DER -in "$tmp/sig.der" | awk -F: '/INTEGER/ { printf "%s ", $NF } END { print "" }')
  r=$(printf %064s "${r#00}" | tr ' ' 0)
  s=$(printf %064s "${s#00}" | tr ' ' 0)
  append_trailer "$in" "$r$s" "$kQsigMagic" "$out"
}

# The detached PKCS#7 of IN (hex).
pkcs7_of() {
  local key=$1 cert=$2 in=$3 attributes=${4:-}
  openssl cms -sign -binary -md sha256 -nosmimecap $([ "$attributes" = attrs ] || echo -noattr) -signer "$cert" \
    -inkey "$key" -in "$in" -outform DER | od -An -v -tx1 | tr -d ' \n'
}

sign_pxs() {
  local key=$1 cert=$2 in=$3 out=$4 attributes=${5:-}
  append_trailer "$in" "$(pkcs7_of "$key" "$cert" "$in" "$attributes")" "$kPxsMagic" "$out"
}

sign_exe() {
  local key=$1 cert=$2 in=$3 out=$4 marking=${5:-}
  local tmp pe magic entry table sha256 rsa image_signature unsigned_attributes signer signed_data outer
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' RETURN
  pe=$(read_u32 "$in" 60)
  [ "$(head -c 2 "$in")" = MZ ] && [ "$(tail -c +$((pe + 1)) "$in" | head -c 4 | od -An -tx1 | tr -d ' ')" = 50450000 ] ||
    die "$in is not a PE image"
  magic=$(read_u16 "$in" $((pe + 24)))
  case $magic in 267) entry=$((pe + 24 + 96 + 4 * 8)) ;; 523) entry=$((pe + 24 + 112 + 4 * 8)) ;;
    *) die "$in: unknown optional header $magic" ;; esac
  [ "$(read_u32 "$in" "$entry")" = 0 ] || die "$in has a certificate table already"
  # The image, padded to the 8-byte boundary where the table starts, is what both signatures cover (the table's
  # directory entry counts as zero).
  table=$((($(stat -c %s "$in") + 7) / 8 * 8))
  cp "$in" "$tmp/image" && truncate -s "$table" "$tmp/image"

  sha256=$(der 30 0609608648016503040201 0500)
  rsa=$(der 30 06092a864886f70d010101 0500)
  openssl dgst -sha256 -sign "$key" -out "$tmp/outer.sig" "$tmp/image"
  image_signature=$(pkcs7_of "$key" "$cert" "$tmp/image")
  openssl x509 -in "$cert" -outform DER -out "$tmp/cert.der"
  unsigned_attributes=""
  if [ "$marking" != unmarked ]; then
    openssl asn1parse -genstr "OID:$kMarkingOid" -out "$tmp/oid.der" >/dev/null
    unsigned_attributes=$(der a1 "$(der 30 "$(hex_of "$tmp/oid.der")$(der 31 "$(der 04 "$image_signature")")")")
  fi
  signer=$(der 30 "020101$(der 30 "$(cert_element "$tmp/cert.der" 4)$(cert_element "$tmp/cert.der" 2)")$sha256$rsa$(
    der 04 "$(hex_of "$tmp/outer.sig")")$unsigned_attributes")
  signed_data=$(der 30 "020101$(der 31 "$sha256")$(der 30 06092a864886f70d010701)$(der a0 "$(hex_of "$tmp/cert.der")")$(
    der 31 "$signer")")
  outer=$(der 30 "06092a864886f70d010702$(der a0 "$signed_data")")
  # WIN_CERTIFICATE: length, revision 2.0, PKCS_SIGNED_DATA, the message, padded to 8 bytes.
  local length=$((8 + ${#outer} / 2)) padded
  padded=$(((length + 7) / 8 * 8))
  { cat "$tmp/image"; write_hex "$(le32 $length)$(le16 512)$(le16 2)$outer"; head -c $((padded - length)) /dev/zero
  } >"$out"
  write_hex "$(le32 "$table")$(le32 "$padded")" | dd of="$out" bs=1 seek="$entry" conv=notrunc status=none
}

command=${1:-}
shift || true
case "$command" in
  keys) make_keys "${1:?DIR}" ;;
  qsig) sign_qsig "${1:?KEY}" "${2:?IN}" "${3:?OUT}" ;;
  pxs) sign_pxs "${1:?KEY}" "${2:?CERT}" "${3:?IN}" "${4:?OUT}" "${5:-}" ;;
  exe) sign_exe "${1:?KEY}" "${2:?CERT}" "${3:?IN}" "${4:?OUT}" "${5:-}" ;;
  *) die "usage: sign.sh keys DIR | qsig KEY IN OUT | pxs KEY CERT IN OUT [attrs] | exe KEY CERT IN OUT [unmarked]" ;;
esac
