"""Writes the pods a Kubernetes Job controller would create from a manifest.

For an Indexed Job: one pod per completion index, with the index in the
annotation batch.kubernetes.io/job-completion-index and in
JOB_COMPLETION_INDEX, read from that annotation through the downward API,
as the controller does it; otherwise the job's one pod. Everything else of
the pod template stays as written, except the image (a local one, never
pulled) and the optional CPU limits given for single indexes.

    kube_pods.py <manifest> <image> <out folder> [--cpu-limit INDEX=CPUS]...

Prints "parallelism N", "claim <name>" for every persistent volume claim the
pods mount, then "pod <file> <pod name> <container name> <index>" for every
pod (index - for a job that is not indexed).
"""
import argparse
import copy
import pathlib
import sys

import yaml

INDEX_KEY = "batch.kubernetes.io/job-completion-index"


def pod_of(job, name, image, index, cpu_limit):
    template = copy.deepcopy(job["spec"]["template"])
    metadata = template.setdefault("metadata", {})
    metadata["name"] = name
    labels = metadata.setdefault("labels", {})
    labels["job-name"] = job["metadata"]["name"]
    spec = template["spec"]
    for container in spec["containers"]:
        container["image"] = image
        container["imagePullPolicy"] = "Never"
        if index is not None:
            env = [e for e in container.get("env", []) if e["name"] != "JOB_COMPLETION_INDEX"]
            env.append({"name": "JOB_COMPLETION_INDEX",
                        "valueFrom": {"fieldRef": {"fieldPath": f"metadata.annotations['{INDEX_KEY}']"}}})
            container["env"] = env
        if cpu_limit is not None:
            container.setdefault("resources", {}).setdefault("limits", {})["cpu"] = cpu_limit
    if index is not None:
        metadata.setdefault("annotations", {})[INDEX_KEY] = str(index)
        labels[INDEX_KEY] = str(index)
    return {"apiVersion": "v1", "kind": "Pod", "metadata": metadata, "spec": spec}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("manifest", type=pathlib.Path)
    parser.add_argument("image")
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("--cpu-limit", action="append", default=[], metavar="INDEX=CPUS")
    args = parser.parse_args()
    limits = dict(item.split("=", 1) for item in args.cpu_limit)

    job = yaml.safe_load(args.manifest.read_text())
    if job.get("kind") != "Job" or len(job["spec"]["template"]["spec"]["containers"]) != 1:
        sys.exit(f"{args.manifest}: a Job of one container expected")
    spec = job["spec"]
    completions = spec.get("completions", 1)
    indexed = spec.get("completionMode", "NonIndexed") == "Indexed"
    if not indexed and completions != 1:
        sys.exit(f"{args.manifest}: only an Indexed Job or a job of one pod can be played")
    container = spec["template"]["spec"]["containers"][0]["name"]
    args.out.mkdir(parents=True, exist_ok=True)
    print("parallelism", min(spec.get("parallelism", 1), completions))
    for volume in spec["template"]["spec"].get("volumes", []):
        if "persistentVolumeClaim" in volume:
            print("claim", volume["persistentVolumeClaim"]["claimName"])
    for index in range(completions) if indexed else [None]:
        name = job["metadata"]["name"] + ("" if index is None else f"-{index}")
        pod = pod_of(job, name, args.image, index, limits.get(str(index)))
        path = args.out / f"{name}.yaml"
        path.write_text(yaml.safe_dump(pod, sort_keys=False))
        print("pod", path, name, container, "-" if index is None else index)


if __name__ == "__main__":
    main()
