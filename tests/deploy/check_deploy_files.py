"""Checks the cluster files in deploy/ against what Vistrel expects of them.

Kubernetes: the shard job is an Indexed Job whose VISTREL_SHARD_COUNT equals
its completions; the last step is an ordinary job of one pod without a shard,
on the same image and volume. Slurm: the scripts parse, the array script is
an array and the last step is not. Dockerfile: built with the project's own
install script in a stage before the image's, Vistrel as the entry point.

    check_deploy_files.py <deploy folder>
"""
import pathlib
import subprocess
import sys

import yaml

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def job(path):
    documents = [d for d in yaml.safe_load_all(path.read_text()) if d is not None]
    check(len(documents) == 1, f"{path.name}: one document expected, found {len(documents)}")
    document = documents[0]
    check(document.get("apiVersion") == "batch/v1" and document.get("kind") == "Job",
          f"{path.name}: not a batch/v1 Job")
    return document


def pod(document):
    return document["spec"]["template"]["spec"]


def container(document):
    containers = pod(document)["containers"]
    check(len(containers) == 1, "one container expected")
    return containers[0]


def env_of(document):
    return {e["name"]: e.get("value") for e in container(document).get("env", [])}


def volumes_match(name, document):
    spec = pod(document)
    declared = {v["name"] for v in spec.get("volumes", [])}
    for mount in container(document).get("volumeMounts", []):
        check(mount["name"] in declared, f"{name}: volume mount {mount['name']} has no volume")
    check(spec.get("restartPolicy") in ("Never", "OnFailure"), f"{name}: a Job needs restartPolicy Never or OnFailure")


def main(folder):
    deploy = pathlib.Path(folder)
    shards = job(deploy / "kubernetes" / "vistrel-shards.yaml")
    final = job(deploy / "kubernetes" / "vistrel-final.yaml")

    spec = shards["spec"]
    check(spec.get("completionMode") == "Indexed", "shards: completionMode must be Indexed")
    completions = spec.get("completions")
    check(isinstance(completions, int) and completions >= 1, "shards: completions must be a positive number")
    check(env_of(shards).get("VISTREL_SHARD_COUNT") == str(completions),
          f"shards: VISTREL_SHARD_COUNT must equal completions ({completions})")
    check(spec.get("parallelism", 1) <= completions, "shards: parallelism above completions")
    volumes_match("shards", shards)

    check(final["spec"].get("completionMode", "NonIndexed") == "NonIndexed", "final: must not be indexed")
    check(final["spec"].get("completions", 1) == 1, "final: one pod")
    check("VISTREL_SHARD_COUNT" not in env_of(final) and "JOB_COMPLETION_INDEX" not in env_of(final),
          "final: must run unsharded")
    volumes_match("final", final)
    check(container(final)["image"] == container(shards)["image"], "final and shards use different images")
    check(container(final)["args"] == container(shards)["args"], "final and shards read different configurations")
    check(pod(final)["volumes"] == pod(shards)["volumes"], "final and shards mount different volumes")

    slurm = deploy / "slurm"
    for script in sorted(slurm.iterdir()):
        result = subprocess.run(["bash", "-n", str(script)], capture_output=True, text=True)
        check(result.returncode == 0, f"{script.name}: {result.stderr.strip()}")
    check("#SBATCH --array=" in (slurm / "vistrel-array.sbatch").read_text(), "slurm: the shard script is no array")
    check("--array" not in (slurm / "vistrel-final.sbatch").read_text(), "slurm: the last step must not be an array")
    check("afterany:" in (slurm / "submit.sh").read_text(), "slurm: the last step waits for no one")

    dockerfile = (deploy / "Dockerfile").read_text()
    check("FROM debian:bookworm" in dockerfile, "Dockerfile: not Debian 12")
    check("scripts/install-deps.sh build" in dockerfile, "Dockerfile: not built with the install script")
    stages = [line.split()[1] for line in dockerfile.splitlines() if line.startswith("FROM ")]
    check(len(stages) >= 2, "Dockerfile: the image is not a stage of its own apart from the build")
    check("ENTRYPOINT [\"/usr/local/bin/Vistrel\"]" in dockerfile, "Dockerfile: Vistrel is not the entry point")

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
