#!/usr/bin/env python3
"""The first pod of a StatefulSet as a Kubernetes cluster would make it, for podman kube play.

Podman 4.3 plays Pods, Deployments and PersistentVolumeClaims but no StatefulSet. What the
cluster's StatefulSet controller would do for replica 0 is done here instead, and nothing more:
  - the pod is named <set>-0, with the template's labels, annotations and pod settings, hostname and
    subdomain as the controller sets them;
  - each volumeClaimTemplate becomes a PersistentVolumeClaim <template>-<set>-0 and the pod's
    volume of that name refers to it.
Four changes fit the test machine rather than a cluster:
  - every container runs IMAGE (the image the test loaded) instead of the manifest's name;
  - the port named "admin" is published on 127.0.0.1:HOST_PORT (a cluster reaches the pod's own
    address instead);
  - each Secret volume becomes a read-only hostPath SECRETS/<secretName>, a folder the test fills
    as the kubelet would (one file per key, group fsGroup, the volume's mode): podman 4.3 crashes
    on secret volumes in kube play (a nil secrets manager in VolumeFromSecret);
  - the pod restarts its containers on failure only: podman 4.3 applies the pod's restart policy
    to init containers as well, so under the StatefulSet's "Always" the init container starts
    again each time it ends and the play fails removing it.

    render_pod.py MANIFEST IMAGE HOST_PORT SECRETS > pod.yaml
"""
import copy
import sys

import yaml


def statefulset_of(documents):
    sets = [d for d in documents if d and d.get("kind") == "StatefulSet"]
    if len(sets) != 1:
        sys.exit(f"render_pod: expected one StatefulSet, found {len(sets)}")
    return sets[0]


def claims_and_volumes(statefulset, pod_name):
    claims, volumes = [], []
    for template in statefulset["spec"].get("volumeClaimTemplates", []):
        name = template["metadata"]["name"]
        claim_name = f"{name}-{pod_name}"
        claims.append({
            "apiVersion": "v1",
            "kind": "PersistentVolumeClaim",
            "metadata": {"name": claim_name},
            "spec": copy.deepcopy(template["spec"]),
        })
        volumes.append({"name": name, "persistentVolumeClaim": {"claimName": claim_name}})
    return claims, volumes


def publish_admin_port(containers, host_port):
    published = 0
    for container in containers:
        for port in container.get("ports", []):
            if port.get("name") == "admin":
                port["hostIP"] = "127.0.0.1"
                port["hostPort"] = host_port
                published += 1
    if published != 1:
        sys.exit(f"render_pod: expected one port named admin, found {published}")


def secrets_as_host_folders(volumes, secrets_folder):
    for volume in volumes:
        secret = volume.pop("secret", None)
        if secret is not None:
            volume["hostPath"] = {"path": f"{secrets_folder}/{secret['secretName']}",
                                  "type": "Directory"}


def render(statefulset, image, host_port, secrets_folder):
    name = statefulset["metadata"]["name"]
    pod_name = f"{name}-0"
    template = copy.deepcopy(statefulset["spec"]["template"])
    spec = template["spec"]
    spec["hostname"] = pod_name
    spec["subdomain"] = statefulset["spec"]["serviceName"]
    spec["restartPolicy"] = "OnFailure"
    claims, volumes = claims_and_volumes(statefulset, pod_name)
    spec["volumes"] = spec.get("volumes", []) + volumes
    secrets_as_host_folders(spec["volumes"], secrets_folder)
    for container in spec.get("initContainers", []) + spec["containers"]:
        container["image"] = image
    publish_admin_port(spec["containers"], host_port)
    metadata = template.get("metadata", {})
    labels = dict(metadata.get("labels", {}))
    labels["statefulset.kubernetes.io/pod-name"] = pod_name
    pod = {
        "apiVersion": "v1",
        "kind": "Pod",
        "metadata": {"name": pod_name, "labels": labels,
                     "annotations": dict(metadata.get("annotations", {}))},
        "spec": spec,
    }
    return claims + [pod]


class PlainDumper(yaml.SafeDumper):
    """Writes a value shared by two containers (a YAML anchor in the manifest) out twice."""

    def ignore_aliases(self, data):
        return True


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    manifest, image, host_port, secrets_folder = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    with open(manifest, encoding="utf-8") as file:
        documents = list(yaml.safe_load_all(file))
    yaml.dump_all(render(statefulset_of(documents), image, host_port, secrets_folder), sys.stdout,
                  Dumper=PlainDumper, sort_keys=False)


if __name__ == "__main__":
    main()
