#!/usr/bin/env python3
"""Writes the keyed-archive fixtures of the host system-services tests.

The archives are built here, independently of the decoder under test, with
Python's plistlib: a small archiver lays objects out in "$objects" the way
keyed archivers do ("$null" first, class records shared, strings stored
inline, collections as NS.objects / NS.keys lists of UID references).
Run it from this folder; it rewrites mask_shapes.bin and mixed_types.xml.
"""
import datetime
import plistlib


class Archiver:
    def __init__(self):
        self.objects = ["$null"]
        self.classes = {}

    def _klass(self, name, chain):
        if name not in self.classes:
            self.objects.append({"$classname": name, "$classes": chain})
            self.classes[name] = plistlib.UID(len(self.objects) - 1)
        return self.classes[name]

    def add(self, record):
        self.objects.append(record)
        return plistlib.UID(len(self.objects) - 1)

    def string(self, text):
        return self.add(text)

    def array(self, refs, mutable=True):
        name = "NSMutableArray" if mutable else "NSArray"
        chain = [name, "NSArray", "NSObject"] if mutable else ["NSArray", "NSObject"]
        return self.add({"$class": self._klass(name, chain), "NS.objects": list(refs)})

    def dictionary(self, pairs):
        keys = [self.string(k) for k, _ in pairs]
        values = [v for _, v in pairs]
        return self.add({"$class": self._klass("NSDictionary", ["NSDictionary", "NSObject"]),
                         "NS.keys": keys, "NS.objects": values})

    def archive(self, root):
        return {"$archiver": "NSKeyedArchiver", "$version": 100000,
                "$top": {"root": root}, "$objects": self.objects}


def as_xml_uids(value):
    """XML property lists carry references as {"CF$UID": n} dictionaries."""
    if isinstance(value, plistlib.UID):
        return {"CF$UID": value.data}
    if isinstance(value, list):
        return [as_xml_uids(v) for v in value]
    if isinstance(value, dict):
        return {k: as_xml_uids(v) for k, v in value.items()}
    return value


def mask_shapes():
    a = Archiver()
    origin = a.string("{{0, 0}, {8, 8}}")  # referenced by two shapes
    rect = a.array([a.string("rectangle"), a.string("{{10, 20}, {30, 40}}")])
    free = a.array([a.string("freeForm"), a.string("{{1, 2}, {0, 0}}"),
                    a.string("{{5, 2}, {0, 0}}"), a.string("{{3, 7}, {0, 0}}")])
    oval = a.array([a.string("oval"), origin])
    oval2 = a.array([a.string("oval"), origin])
    stray = a.string("not a shape")
    root = a.array([rect, free, oval, oval2, stray])
    with open("mask_shapes.bin", "wb") as f:
        f.write(plistlib.dumps(a.archive(root), fmt=plistlib.FMT_BINARY, sort_keys=False))


def mixed_types():
    a = Archiver()
    name = a.add({"$class": a._klass("NSMutableString", ["NSMutableString", "NSString", "NSObject"]),
                  "NS.string": "Grüße"})
    blob = a.add({"$class": a._klass("NSMutableData", ["NSMutableData", "NSData", "NSObject"]),
                  "NS.data": bytes([0, 1, 2, 254, 255])})
    when = a.add({"$class": a._klass("NSDate", ["NSDate", "NSObject"]), "NS.time": 700000000.5})
    items = a.array([a.add(1), a.add(2.5), a.add("three")], mutable=False)
    root = a.dictionary([
        ("name", name), ("count", a.add(-42)), ("ratio", a.add(0.25)), ("flag", a.add(True)),
        ("blob", blob), ("when", when), ("list", items), ("nothing", plistlib.UID(0)),
    ])
    with open("mixed_types.xml", "wb") as f:
        f.write(plistlib.dumps(as_xml_uids(a.archive(root)), fmt=plistlib.FMT_XML))


if __name__ == "__main__":
    mask_shapes()
    mixed_types()
