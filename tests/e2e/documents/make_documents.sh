#!/bin/sh
# Regenerates the end-to-end test documents from their flat ODF sources:
#   korean_report.fodt -> .docx .doc .rtf (Korean text, a 2x2 table, two PNG pictures)
#   budget.fods        -> .xlsx
#   three_slides.fodp  -> .pptx (three slides with Korean titles)
# Needs LibreOffice (soffice). Runs with a throw-away profile so that the
# user's own settings neither change nor leak into the files.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
soffice=${SOFFICE:-soffice}
profile=$(mktemp -d "${TMPDIR:-/tmp}/make-documents-XXXXXX")
trap 'rm -rf "$profile"' EXIT INT TERM

convert() {
  # $1 = target format (filter optional after a colon), $2 = source file
  timeout 120 "$soffice" --headless --norestore --nolockcheck \
    "-env:UserInstallation=file://$profile" \
    --convert-to "$1" --outdir "$here" "$here/$2" >/dev/null
}

convert 'docx:MS Word 2007 XML' korean_report.fodt
convert 'doc:MS Word 97' korean_report.fodt
convert 'rtf:Rich Text Format' korean_report.fodt
convert 'xlsx:Calc MS Excel 2007 XML' budget.fods
convert 'pptx:Impress MS PowerPoint 2007 XML' three_slides.fodp

for f in korean_report.docx korean_report.doc korean_report.rtf budget.xlsx three_slides.pptx; do
  test -s "$here/$f" || { echo "make_documents.sh: $f was not written" >&2; exit 1; }
done
ls -l "$here"
