#!/bin/sh
# Makes the archives of this folder with the tools vendors use; run once, the
# archives are kept, so the tests need none of the tools. Needs zip (Info-ZIP
# 3.0), python3, bsdtar (libarchive-tools) and 7z (p7zip-full).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 022
cd "$work"

# A program tree: a program and a script that must run, a file for the owner alone.
mkdir -p tree/bin
printf '#!/bin/sh\necho "final_inst 1.1"\n' > tree/final_inst
printf '#!/bin/sh\necho "run.sh ran"\n' > tree/bin/run.sh
printf 'password=owner-only\n' > tree/secret.ini
printf 'read me\n' > tree/readme.txt
chmod 0755 tree/final_inst tree/bin/run.sh
chmod 0600 tree/secret.ini

# Written from a pipe: local sizes 0xFFFFFFFF, the real ones in a Zip64 extra.
printf 'hello from a pipe\n' | zip -q - - > piped_stdin.zip
printf 'hello from a pipe\n' | zip -q piped_named.zip -
(cd tree && zip -q -r ../modes.zip .)
(cd tree && zip -q -r -fz ../zip64_fz.zip .)
(cd tree && zip -q -e -P pw ../zipcrypto.zip readme.txt)
(cd tree && 7z a -tzip -ppw -mem=AES256 ../aes.zip readme.txt > /dev/null)
(cd tree && bsdtar --format zip --options zip:encryption=zipcrypt --passphrase pw -cf ../bsdtar_crypt.zip readme.txt)
(cd tree && bsdtar --format zip --options zip:zip64 -cf ../bsdtar_zip64.zip final_inst bin secret.ini readme.txt)
python3 - <<'PY'
import zipfile
with zipfile.ZipFile('python_zip64.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    with z.open('data.txt', 'w', force_zip64=True) as f:
        f.write(b'python says hello\n' * 10)
    with z.open('more.txt', 'w', force_zip64=True) as f:
        f.write(b'second\n')
PY
cp ./*.zip "$here/"
