"""The genotype samples of talveron-batch read by real clients: every file
is read by Debian's bcftools and by pysam, its index is the one tabix
makes, and its genotypes agree with the census the trace gives for the
same generations.
The same seed gives the same bytes with one job and with two.

Usage: genotype_files_test.py TALVERON_BATCH
"""

import collections
import csv
import os
import shutil
import subprocess
import sys
import tempfile

import pysam

BATCH = sys.argv[1]
LOCI = ["habitatPref", "habitatSpec", "matingPrefType", "matingPrefValue", "signalType",
        "signalValue", "generalViability"] + ["neutral%d" % g for g in range(10)]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(args):
    subprocess.run([BATCH, "--quiet"] + args, check=True)


def trace_counts(path):
    """(replicate, generation, habitat) -> the trace's row."""
    with open(path, newline="") as f:
        return {(int(r["replicate"]), int(r["generation"]), int(r["habitat"])): r
                for r in csv.DictReader(f, delimiter="\t")}


def main():
    with tempfile.TemporaryDirectory(prefix="talveron-genotypes-") as work:
        common = ["--seed", "77", "--replicates", "3", "--generations", "120", "--sample-every", "50",
                  "--set", "gIncludeNeutralGenes=1", "--set", "gMatingPrefTarget=2",
                  "--set", "gIncludeSignalValue=1", "--set", "density=2"]
        one = os.path.join(work, "one")
        two = os.path.join(work, "two")
        os.mkdir(one)
        os.mkdir(two)
        run(common + ["--jobs", "1", "--out", one + "/s.txt", "--trace", one + "/s.trace",
                      "--genotypes", one + "/s.vcf.gz"])
        run(common + ["--jobs", "2", "--out", two + "/s.txt", "--genotypes", two + "/s.vcf.gz"])
        names = sorted(os.listdir(one))
        check(names == ["s-r1.vcf.gz", "s-r1.vcf.gz.tbi", "s-r2.vcf.gz", "s-r2.vcf.gz.tbi",
                        "s-r3.vcf.gz", "s-r3.vcf.gz.tbi", "s.samples.tsv", "s.trace", "s.txt"],
              "files: %s" % names)
        for name in names:
            if name.endswith(".trace"):
                continue
            with open(os.path.join(one, name), "rb") as a, open(os.path.join(two, name), "rb") as b:
                check(a.read() == b.read(), "%s differs between --jobs 1 and --jobs 2" % name)

        trace = trace_counts(one + "/s.trace")
        with open(one + "/s.samples.tsv", newline="") as f:
            table = list(csv.DictReader(f, delimiter="\t"))
        for replicate in (1, 2, 3):
            path = "%s/s-r%d.vcf.gz" % (one, replicate)
            # bcftools: the header, every record, and a region through the index.
            header = subprocess.run(["bcftools", "view", "-h", path], check=True, capture_output=True,
                                    text=True).stdout
            check(header.startswith("##fileformat=VCFv4.3\n"), "not VCF 4.3: " + header[:40])
            ids = subprocess.run(["bcftools", "query", "-f", "%ID\n", path], check=True,
                                 capture_output=True, text=True).stdout.split()
            check(ids == LOCI, "records: %s" % ids)
            region = subprocess.run(["bcftools", "query", "-r", "loci:2", "-f", "%ID\n", path], check=True,
                                    capture_output=True, text=True).stdout.split()
            check(region == ["habitatSpec"], "region loci:2 gives %s" % region)

            vcf = pysam.VariantFile(path)
            samples = list(vcf.header.samples)
            rows = [r for r in table if int(r["replicate"]) == replicate]
            check(samples == [r["sample"] for r in rows], "replicate %d: the table's samples" % replicate)
            generations = sorted({int(r["generation"]) for r in rows})
            check(generations == [50, 100, 120], "sampled generations %s" % generations)
            records = {record.id: record for record in vcf}
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
            # tabix reads the index as well.
            out = subprocess.run(["tabix", path, "loci:17"], check=True, capture_output=True, text=True).stdout
            check(out.split("\t")[2] == "neutral9", "tabix loci:17 gives " + out[:40])
            # The index, built while the file is written, is the one tabix builds from it.
            copy = os.path.join(work, "copy.vcf.gz")
            shutil.copyfile(path, copy)
            subprocess.run(["tabix", "-f", "-p", "vcf", copy], check=True)
            with open(path + ".tbi", "rb") as a, open(copy + ".tbi", "rb") as b:
                check(a.read() == b.read(), "replicate %d: the index differs from tabix's" % replicate)

        # A single replicate writes the file under its own name.
        run(["--seed", "5", "--replicates", "1", "--generations", "10", "--out", work + "/single.txt",
             "--genotypes", work + "/single.vcf.gz"])
        check(os.path.exists(work + "/single.vcf.gz") and os.path.exists(work + "/single.vcf.gz.tbi"),
              "a single replicate's file")
        check(len(list(pysam.VariantFile(work + "/single.vcf.gz"))) == 17, "single replicate's records")

    for failure in failures:
        print("FAILED:", failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
