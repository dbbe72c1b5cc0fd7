#!/usr/bin/env python3
"""The policy template Group Policy's editor reads: tarvel.admx and en-US/tarvel.adml parse, every
resource the template names is in the language file, its one policy writes the key and value the
check reads with the modes the check knows, and both files lie beside the package unchanged.

Usage: check_policy.py SOURCE_DIR BUILD_DIR
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"


def check(source, build):
    failures = []
    admx_path = os.path.join(source, "policy", "tarvel.admx")
    adml_path = os.path.join(source, "policy", "en-US", "tarvel.adml")
    admx = ET.parse(admx_path).getroot()
    adml = ET.parse(adml_path).getroot()
    if admx.tag != NS + "policyDefinitions" or adml.tag != NS + "policyDefinitionResources":
        failures.append("the template's roots are not Group Policy's, in its namespace")
    for root, name in ((admx, "tarvel.admx"), (adml, "tarvel.adml")):
        if not root.get("revision") or not root.get("schemaVersion"):
            failures.append(f"{name} has no revision or schemaVersion")
    if admx.find(f"{NS}policyNamespaces/{NS}target") is None or admx.find(f"{NS}resources") is None:
        failures.append("tarvel.admx names no target namespace or no resources")

    strings = {s.get("id") for s in adml.iter(NS + "string")}
    presentations = {p.get("id"): p for p in adml.iter(NS + "presentation")}
    text = open(admx_path, encoding="utf-8").read()
    for kind, name in re.findall(r"\$\((string|presentation)\.([^)]+)\)", text):
        if name not in (strings if kind == "string" else presentations):
            failures.append(f"tarvel.admx names {kind} {name}, which tarvel.adml lacks")

    supported = {d.get("name") for d in admx.iter(NS + "definition")}
    categories = {c.get("name") for c in admx.iter(NS + "category")}
    policies = list(admx.iter(NS + "policy"))
    if len(policies) != 1:
        failures.append(f"tarvel.admx holds {len(policies)} policies, not one")
        return failures
    policy = policies[0]
    if categories != {"tarvel"} or policy.find(f"{NS}parentCategory").get("ref") != "tarvel":
        failures.append("the policy is not under the one category \"tarvel\"")
    if policy.find(f"{NS}supportedOn").get("ref") not in supported:
        failures.append("the policy's supportedOn names no definition")

    # What the check reads, from its own source.
    check_source = open(os.path.join(source, "check", "ExpectedMode.cpp"), encoding="utf-8").read()
    key = re.search(r'kPolicyKey\[\] = L"([^"]+)"', check_source).group(1).replace("\\\\", "\\")
    value = re.search(r'kPolicyValue\[\] = L"([^"]+)"', check_source).group(1)
    enum = policy.find(f"{NS}elements/{NS}enum")
    if policy.get("key") != key or enum is None or enum.get("valueName") != value:
        failures.append(f"the policy does not write {key} \"{value}\", which the check reads")
    else:
        modes = sorted(i.find(f"{NS}value/{NS}string").text for i in enum.iter(NS + "item"))
        if modes != ["normal", "preload"]:
            failures.append(f"the policy's modes are {modes}, not normal and preload")
        shown = presentations.get(re.search(r"\$\(presentation\.([^)]+)\)", policy.get("presentation")).group(1))
        if shown is None or shown.find(f"{NS}dropdownList").get("refId") != enum.get("id"):
            failures.append("the policy's presentation shows no list of its modes")

    for name in ("tarvel.admx", os.path.join("en-US", "tarvel.adml")):
        shipped = os.path.join(build, name)
        if not os.path.exists(shipped) or open(shipped, "rb").read() != open(
                os.path.join(source, "policy", name), "rb").read():
            failures.append(f"{name} is not beside the package as it is")
    if not any(f.startswith("tarvel-") and f.endswith(".msi") for f in os.listdir(build)):
        failures.append("no package in the build folder the template should lie beside")
    return failures


def main(source, build):
    failures = check(source, build)
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("tarvel.admx and en-US/tarvel.adml: one policy, ExpectedMode, beside the package")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
