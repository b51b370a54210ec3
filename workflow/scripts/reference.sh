#!/usr/bin/env bash
# Links the CRAM samples' reference into the work directory and indexes the
# link there: samtools writes a missing .fai beside the FASTA it reads, and
# nothing is written beside the user's files. A FASTA compressed with bgzip
# gets its .gzi there too.
#
#   reference.sh FASTA LINK FAI
set -euo pipefail
fasta=$1 link=$2 fai=$3
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

partial link_part "$link"
partial fai_part "$fai"
partial gzi_part "$link.gzi"
ln -s -- "$fasta" "$link_part"
samtools faidx --fai-idx "$fai_part" --gzi-idx "$gzi_part" -- "$link_part"
# The link last: the job has not run until it is there.
[[ ! -e $gzi_part ]] || publish "$gzi_part" "$link.gzi"
publish "$fai_part" "$fai"
publish "$link_part" "$link"
