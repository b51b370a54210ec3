# plan: the sample's reference sequences, cut into pieces (a checkpoint: the
#   number of pieces comes from the file's header);
# index, reference: what region queries need, made in the work directory;
# slice: one piece through corvane;
# gather: the pieces in order into OUT/NAME.txt.


wildcard_constraints:
    sample="|".join(re.escape(name) for name in SAMPLES),
    piece="[0-9]+",
    kind="csi|crai",


checkpoint plan:
    input:
        lambda wildcards: SAMPLES[wildcards.sample],
    output:
        f"{WORK}/{{sample}}/plan.tsv",
    log:
        f"{LOGS}/{{sample}}/plan.log",
    params:
        script=f"{workflow.basedir}/scripts/plan.sh",
        chunk_bp=CHUNK_BP,
        # A final file from an earlier run goes as soon as its sample is redone.
        stale=f"{OUT}/{{sample}}{EXT}",
    conda:
        "../envs/samtools.yaml"
    shell:
        "bash {params.script:q} {input:q} {params.chunk_bp} {output:q} {params.stale:q} 2> {log:q}"


rule index:
    input:
        lambda wildcards: SAMPLES[wildcards.sample],
    output:
        f"{WORK}/{{sample}}/index.{{kind}}",
    log:
        f"{LOGS}/{{sample}}/index.{{kind}}.log",
    params:
        script=f"{workflow.basedir}/scripts/index.sh",
    threads: 2
    conda:
        "../envs/samtools.yaml"
    shell:
        "bash {params.script:q} {wildcards.sample:q} {input:q} {output:q} {threads} {log:q}"


if REFERENCE_LINK:

    rule reference:
        input:
            os.path.abspath(REFERENCE),
        output:
            link=REFERENCE_LINK,
            fai=f"{REFERENCE_LINK}.fai",
        log:
            f"{LOGS}/reference.log",
        params:
            script=f"{workflow.basedir}/scripts/reference.sh",
        conda:
            "../envs/samtools.yaml"
        shell:
            "bash {params.script:q} {input:q} {output.link:q} {output.fai:q} 2> {log:q}"


rule slice:
    input:
        unpack(slice_inputs),
    output:
        temp(f"{WORK}/{{sample}}/pieces/{{piece}}{EXT}"),
    log:
        f"{LOGS}/{{sample}}/piece{{piece}}.log",
    params:
        script=f"{workflow.basedir}/scripts/slice.sh",
        where=piece_label,
        reference=lambda wildcards, input: input.get("reference", "-"),
        corvane=CORVANE,
        compress=int(COMPRESS),
    message:
        "corvane: sample {wildcards.sample}, piece {wildcards.piece}: {params.where}"
    conda:
        "../envs/samtools.yaml"
    shell:
        "bash {params.script:q} {wildcards.sample:q} {wildcards.piece} {params.where:q}"
        " {input.plan:q} {input.data:q} {input.index:q} {params.reference:q} {params.corvane:q}"
        " {params.compress} {output:q} {log:q}"


rule gather:
    input:
        piece_outputs,
    output:
        f"{OUT}/{{sample}}{EXT}",
    log:
        f"{LOGS}/{{sample}}/gather.log",
    params:
        script=f"{workflow.basedir}/scripts/gather.sh",
        pieces=f"{WORK}/{{sample}}/pieces",
        n=lambda wildcards, input: len(input),
        ext=EXT,
    conda:
        "../envs/coreutils.yaml"
    shell:
        "bash {params.script:q} {wildcards.sample:q} {params.pieces:q} {params.n} {params.ext}"
        " {output:q} {log:q}"
