"""The genotype samples of talveron-batch read by real clients: every file
is read by Debian's bcftools and by pysam, its index is the one tabix
makes, its genotypes agree with the census the trace gives for the same
generations, and its INFO counts with the genotypes counted here. vcftools
and plink 1.9 read it the ways the README gives, with the lists of samples
written beside it: vcftools's per-site F_ST is Weir's haploid estimate
computed here, and plink reads every allele of every sample.
The same seed gives the same bytes with one job and with two.

Usage: genotype_files_test.py TALVERON_BATCH
"""

import collections
import csv
import math
import os
import shutil
import subprocess
import sys
import tempfile

import pysam

BATCH = sys.argv[1]
LOCI = ["habitatPref", "habitatSpec", "matingPrefType", "matingPrefValue", "signalType",
        "signalValue", "generalViability"] + ["neutral%d" % g for g in range(10)]
VALUE_LOCI = ("matingPrefValue", "signalValue")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(args):
    subprocess.run([BATCH, "--quiet"] + args, check=True)


def tool(args, cwd=None):
    """A client's run: its standard output; its failure ends the test."""
    done = subprocess.run(args, capture_output=True, text=True, cwd=cwd)
    if done.returncode != 0:
        raise SystemExit("%s failed (%d): %s" % (" ".join(args), done.returncode, done.stderr[-2000:]))
    return done


def allele_name(locus, allele):
    """The allele as the REF and ALT columns name it."""
    if allele == 0:
        return "N"
    return ("<V%d>" if locus in VALUE_LOCI else "<A%d>") % allele


def trace_counts(path):
    """(replicate, generation, habitat) -> the trace's row."""
    with open(path, newline="") as f:
        return {(int(r["replicate"]), int(r["generation"]), int(r["habitat"])): r
                for r in csv.DictReader(f, delimiter="\t")}


def haploid_fst(groups):
    """Weir's F_ST estimate (theta) for haploid samples, from the analysis
    of variance of the allele indicators with the individual as the unit,
    summed over the alleles: the groups' alleles in, NaN where no allele
    varies."""
    r = len(groups)
    sizes = [len(g) for g in groups]
    total = sum(sizes)
    nc = (total - sum(n * n for n in sizes) / total) / (r - 1)
    numerator = denominator = 0.0
    for allele in set(a for g in groups for a in g):
        p = [sum(1 for a in g if a == allele) / len(g) for g in groups]
        mean = sum(n * q for n, q in zip(sizes, p)) / total
        msp = sum(n * (q - mean) ** 2 for n, q in zip(sizes, p)) / (r - 1)
        msw = sum(n * q * (1 - q) for n, q in zip(sizes, p)) / (total - r)
        numerator += msp - msw
        denominator += msp + (nc - 1) * msw
    return numerator / denominator if denominator > 0 else math.nan


def same_number(a, b, rel):
    return (math.isnan(a) and math.isnan(b)) or math.isclose(a, b, rel_tol=rel, abs_tol=rel / 10)


def check_header(path, vcf):
    """The settings given on the command line, with their changes in the
    order of their generations, and the version: bcftools and pysam read
    every line."""
    records = list(vcf.header.records)
    parameters = {r["ID"]: r["Value"] for r in records if r.key == "talveronParameter"}
    check(parameters.get("density") == "2" and parameters.get("gMatingPrefTarget") == "2"
          and parameters.get("gIncludeSignalValue") == "1" and parameters.get("selectionFactor") == "0.5",
          "%s: parameters %s" % (path, parameters))
    check(len(parameters) > 20, "%s: %d parameters" % (path, len(parameters)))
    changes = [(r["ID"], r["Generation"], r["Name"], r["Value"]) for r in records
               if r.key == "talveronChange"]
    check(changes == [("1", "30", "selectionFactor", "0.25"), ("2", "60", "natalDispersalRate", "30")],
          "%s: changes %s" % (path, changes))
    check([r.value for r in records if r.key == "source"] == ["Talveron " + VERSION],
          "%s: source" % path)
    check(list(vcf.header.contigs) == LOCI, "%s: contigs %s" % (path, list(vcf.header.contigs)))
    header = tool(["bcftools", "view", "-h", path]).stdout
    check(header.startswith("##fileformat=VCFv4.2\n"), "not VCF 4.2: " + header[:40])
    check(header.count("\n##talveronParameter=<ID=") == len(parameters)
          and header.count("\n##talveronChange=<ID=") == 2, path + ": bcftools drops a settings line")


def check_info(path, records, samples):
    """AN, AC, AF and AA, as bcftools gives them, against the alleles
    counted here from pysam's genotypes."""
    lines = tool(["bcftools", "query", "-f", "%ID\t%AN\t%AC\t%AF\t%AA\t%ALT\n", path]).stdout.splitlines()
    check(len(lines) == len(LOCI), "%s: %d records queried" % (path, len(lines)))
    for line in lines:
        locus, an, ac, af, aa, alt = line.split("\t")
        alleles = collections.Counter(records[locus].samples[n]["GT"][0] for n in samples)
        alts = alt.split(",")
        counts = [alleles.get(a, 0) for a in range(1, len(alts) + 1)]
        check(int(an) == len(samples), "%s %s: AN %s" % (path, locus, an))
        check([int(c) for c in ac.split(",")] == counts, "%s %s: AC %s, counted %s" % (path, locus, ac, counts))
        check(all(math.isclose(float(f), c / len(samples), rel_tol=1e-5, abs_tol=1e-7)
                  for f, c in zip(af.split(","), counts)) and len(af.split(",")) == len(counts),
              "%s %s: AF %s" % (path, locus, af))
        founders = 0 if locus in VALUE_LOCI or locus.startswith("neutral") else 2
        check(aa == allele_name(locus, founders), "%s %s: AA %s" % (path, locus, aa))
        check(alts == [allele_name(locus, a) for a in range(1, len(alts) + 1)], "%s %s: ALT %s" % (path, locus, alt))


def check_vcftools(work, path, records, rows, generation):
    """The README's way: the haploid calls made diploid, then one
    generation's habitats as the populations. Without that every site is
    skipped."""
    lists = []
    for habitat in (0, 1):
        lists.append(os.path.join(work, "h%d.txt" % habitat))
        with open(lists[-1], "w") as f:  # grep _g<generation>_ FILE.habitatH.txt
            with open(os.path.join(work, "s.habitat%d.txt" % habitat)) as full:
                f.writelines(line for line in full if "_g%d_" % generation in line)
    haploid = tool(["vcftools", "--gzvcf", path, "--weir-fst-pop", lists[0], "--weir-fst-pop", lists[1],
                    "--stdout"])
    check("VCF version must be" not in haploid.stderr and "Warning" not in haploid.stderr,
          "vcftools on the file: " + haploid.stderr[-300:])
    check(haploid.stdout.splitlines()[1:] == [], "vcftools reads haploid sites now: fix the README")

    diploid = os.path.join(work, "diploid.vcf")
    with open(diploid, "w") as f:
        subprocess.run(["bcftools", "+fixploidy", path, "--", "-f", "2"], stdout=f, check=True,
                       stderr=subprocess.DEVNULL)
    done = tool(["vcftools", "--vcf", diploid, "--weir-fst-pop", lists[0], "--weir-fst-pop", lists[1],
                 "--stdout"])
    check("Error" not in done.stderr and "Warning" not in done.stderr, "vcftools: " + done.stderr[-300:])
    sites = [line.split("\t") for line in done.stdout.splitlines()[1:]]
    check([s[0] for s in sites] == LOCI and all(s[1] == "1" for s in sites), "vcftools sites %s" % sites)
    here = [[r["sample"] for r in rows if int(r["generation"]) == generation and int(r["habitat"]) == h]
            for h in (0, 1)]
    varied = 0
    for chrom, _, value in sites:
        groups = [[records[chrom].samples[n]["GT"][0] for n in names] for names in here]
        expected = haploid_fst(groups)
        varied += not math.isnan(expected)
        check(same_number(float(value), expected, 1e-4),
              "vcftools F_ST at %s: %s, Weir's haploid theta %.6g" % (chrom, value, expected))
    check(varied >= 10, "only %d loci vary: a test of little worth" % varied)


def check_plink(work, path, records, samples, table):
    """plink 1.9: read as it is, the alleles beyond the commonest ALT of a
    locus are missing; split a record per allele first (the README's way),
    it reads every allele of every sample, haploid, with the sexes of the
    sex list and a habitat's samples kept with its list."""
    plain = tool(["plink1.9", "--vcf", path, "--double-id", "--chr-set", "-1", "--allow-extra-chr",
                  "--missing", "--out", "plain"], cwd=work)
    with open(os.path.join(work, "plain.lmiss")) as f:
        missing = {fields[1]: int(fields[2]) for fields in (line.split() for line in f.readlines()[1:])}
    for locus in LOCI:
        alleles = collections.Counter(records[locus].samples[n]["GT"][0] for n in samples)
        alts = [alleles.get(a, 0) for a in range(1, len(records[locus].alleles))]
        lost = len(samples) - alleles.get(0, 0) - max(alts)
        check(missing.get(locus) == lost, "plink reads %s with %s missing, not %d" % (locus, missing.get(locus), lost))
    check("Error" not in plain.stdout, plain.stdout[-300:])

    split = os.path.join(work, "split.vcf.gz")
    norm = subprocess.Popen(["bcftools", "norm", "-m", "-any", path, "-Ou"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    subprocess.run(["bcftools", "annotate", "-I", "%CHROM:%ALT", "-Oz", "-o", split], stdin=norm.stdout,
                   check=True)
    norm.stdout.close()
    check(norm.wait() == 0, "bcftools norm failed")
    common = ["plink1.9", "--vcf", split, "--double-id", "--chr-set", "-1", "--allow-extra-chr",
              "--update-sex", os.path.join(work, "s.sex.txt")]
    tool(common + ["--freq", "--missing", "--make-bed", "--out", "split"], cwd=work)
    expected_ids = ["%s:%s" % (locus, allele) for locus in LOCI for allele in records[locus].alleles[1:]]
    with open(os.path.join(work, "split.bim")) as f:
        check([line.split()[1] for line in f] == expected_ids, "plink's variants")
    sexes = {r["sample"]: "1" if r["sex"] == "m" else "2" for r in table}
    with open(os.path.join(work, "split.fam")) as f:
        fam = [line.split() for line in f]
    check([(p[0], p[1], p[4]) for p in fam] == [(n, n, sexes[n]) for n in samples], "plink's samples and sexes")
    with open(os.path.join(work, "split.lmiss")) as f:
        check(all(line.split()[2] == "0" for line in f.readlines()[1:]), "plink: genotypes missing once split")
    with open(os.path.join(work, "split.frq")) as f:
        frequencies = [line.split() for line in f.readlines()[1:]]
    check(len(frequencies) == len(expected_ids), "plink --freq: %d variants" % len(frequencies))
    for _, variant, a1, a2, maf, observed in frequencies:
        locus, alt = variant.split(":")
        number = records[locus].alleles.index(alt)
        share = sum(1 for n in samples if records[locus].samples[n]["GT"][0] == number) / len(samples)
        expected = share if a1 == alt else 1 - share
        check(int(observed) == len(samples), "plink counts %s alleles at %s: not haploid" % (observed, variant))
        check(math.isclose(float(maf), expected, rel_tol=1e-3, abs_tol=1e-4),
              "plink: %s %s of %s, counted %.4g" % (variant, maf, a1, expected))
    tool(common + ["--keep-fam", os.path.join(work, "s.habitat0.txt"), "--make-bed", "--out", "habitat0"], cwd=work)
    with open(os.path.join(work, "habitat0.fam")) as f:
        kept = [line.split()[1] for line in f]
    check(kept == [n for n in samples if "_h0_" in n], "plink --keep-fam keeps habitat 0's samples")


def main():
    global VERSION
    with tempfile.TemporaryDirectory(prefix="talveron-genotypes-") as work:
        common = ["--seed", "77", "--replicates", "3", "--generations", "120", "--sample-every", "50",
                  "--set", "gIncludeNeutralGenes=1", "--set", "gMatingPrefTarget=2",
                  "--set", "gIncludeSignalValue=1", "--set", "density=2",
                  "--change", "60:natalDispersalRate=30", "--change", "30:selectionFactor=0.25"]
        one = os.path.join(work, "one")
        two = os.path.join(work, "two")
        os.mkdir(one)
        os.mkdir(two)
        run(common + ["--jobs", "1", "--out", one + "/s.txt", "--trace", one + "/s.trace",
                      "--genotypes", one + "/s.vcf.gz"])
        run(common + ["--jobs", "2", "--out", two + "/s.txt", "--genotypes", two + "/s.vcf.gz"])
        VERSION = subprocess.run([BATCH, "--version"], capture_output=True, text=True).stdout.split()[1]
        names = sorted(os.listdir(one))
        check(names == ["s-r1.vcf.gz", "s-r1.vcf.gz.tbi", "s-r2.vcf.gz", "s-r2.vcf.gz.tbi",
                        "s-r3.vcf.gz", "s-r3.vcf.gz.tbi", "s.habitat0.txt", "s.habitat1.txt",
                        "s.samples.tsv", "s.sex.txt", "s.trace", "s.txt"],
              "files: %s" % names)
        for name in names:
            if name.endswith(".trace"):
                continue
            with open(os.path.join(one, name), "rb") as a, open(os.path.join(two, name), "rb") as b:
                check(a.read() == b.read(), "%s differs between --jobs 1 and --jobs 2" % name)

        trace = trace_counts(one + "/s.trace")
        with open(one + "/s.samples.tsv", newline="") as f:
            table = list(csv.DictReader(f, delimiter="\t"))
        # The lists beside the files: each habitat's samples, and every sample's sex as plink reads it.
        for habitat in (0, 1):
            with open("%s/s.habitat%d.txt" % (one, habitat)) as f:
                check(f.read().splitlines() == [r["sample"] for r in table if int(r["habitat"]) == habitat],
                      "s.habitat%d.txt" % habitat)
        with open(one + "/s.sex.txt") as f:
            check(f.read().splitlines() == ["%s\t%s\t%s" % (r["sample"], r["sample"], "1" if r["sex"] == "m" else "2")
                                            for r in table], "s.sex.txt")
        for replicate in (1, 2, 3):
            path = "%s/s-r%d.vcf.gz" % (one, replicate)
            # bcftools: every record, and a locus through the index.
            ids = tool(["bcftools", "query", "-f", "%CHROM:%POS:%ID\n", path]).stdout.split()
            check(ids == ["%s:1:%s" % (locus, locus) for locus in LOCI], "records: %s" % ids)
            region = tool(["bcftools", "query", "-r", "habitatSpec", "-f", "%ID\n", path]).stdout.split()
            check(region == ["habitatSpec"], "region habitatSpec gives %s" % region)

            vcf = pysam.VariantFile(path)
            check_header(path, vcf)
            samples = list(vcf.header.samples)
            rows = [r for r in table if int(r["replicate"]) == replicate]
            check(samples == [r["sample"] for r in rows], "replicate %d: the table's samples" % replicate)
            generations = sorted({int(r["generation"]) for r in rows})
            check(generations == [50, 100, 120], "sampled generations %s" % generations)
            records = {record.id: record for record in vcf}
            check([r.id for r in vcf.fetch("signalValue")] == ["signalValue"], "pysam fetch signalValue")
            for row in rows:
                check(row["file"] == os.path.basename(path), "file column " + row["file"])
                name = row["sample"]
                parts = name.split("_")
                check(parts == ["r%d" % replicate, "g" + row["generation"], "h" + row["habitat"],
                                "x" + row["x"], "y" + row["y"], row["sex"]], "sample name " + name)
            # Allele counts per habitat and generation against the trace.
            for generation in generations:
                for habitat in (0, 1):
                    names_here = [r["sample"] for r in rows
                                  if int(r["generation"]) == generation and int(r["habitat"]) == habitat]
                    expected = trace[(replicate, generation, habitat)]
                    check(len(names_here) == int(expected["adults"]),
                          "adults r%d g%d h%d" % (replicate, generation, habitat))
                    for locus, column in (("habitatSpec", "spec"), ("habitatPref", "pref"),
                                          ("matingPrefType", "mate")):
                        counts = collections.Counter(records[locus].samples[n]["GT"][0] for n in names_here)
                        for allele in (0, 1, 2):
                            check(counts.get(allele, 0) == int(expected[column + str(allele)]),
                                  "r%d g%d h%d %s%d" % (replicate, generation, habitat, column, allele))
            for locus in LOCI:
                alleles = records[locus].alleles
                top = max(records[locus].samples[n]["GT"][0] for n in samples)
                check(top < len(alleles), "%s: allele %d of %s" % (locus, top, alleles))
                check(all(len(records[locus].samples[n]["GT"]) == 1 for n in samples), locus + " not haploid")
            check_info(path, records, samples)
            # tabix reads the index as well.
            out = tool(["tabix", path, "neutral9"]).stdout
            check(out.split("\t")[2] == "neutral9", "tabix neutral9 gives " + out[:40])
            # The index, built while the file is written, is the one tabix builds from it.
            copy = os.path.join(work, "copy.vcf.gz")
            shutil.copyfile(path, copy)
            subprocess.run(["tabix", "-f", "-p", "vcf", copy], check=True)
            with open(path + ".tbi", "rb") as a, open(copy + ".tbi", "rb") as b:
                check(a.read() == b.read(), "replicate %d: the index differs from tabix's" % replicate)
            if replicate == 1:
                check_vcftools(one, path, records, rows, 120)
                check_plink(one, path, records, samples, table)

        # A single replicate writes the file under its own name.
        run(["--seed", "5", "--replicates", "1", "--generations", "10", "--out", work + "/single.txt",
             "--genotypes", work + "/single.vcf.gz"])
        check(os.path.exists(work + "/single.vcf.gz") and os.path.exists(work + "/single.vcf.gz.tbi"),
              "a single replicate's file")
        single = pysam.VariantFile(work + "/single.vcf.gz")
        check(len(list(single)) == 17, "single replicate's records")
        check([r for r in single.header.records if r.key == "talveronChange"] == [],
              "a series without changes names none")

    for failure in failures:
        print("FAILED:", failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
