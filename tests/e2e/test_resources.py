"""Framelatch.exe's resources, read back through Wine's own resource calls."""
import unittest

from harness import BIN, probe, windows_path

EXE = BIN / "Framelatch.exe"


class Resources(unittest.TestCase):
    def test_carries_one_32_by_32_icon_a_manifest_and_its_version(self):
        resources = probe("resources", windows_path(EXE))
        self.assertEqual(resources["groupIconIds"], [1])
        self.assertEqual(len(resources["iconIds"]), 1)
        self.assertEqual(resources["group1"], [{"width": 32, "height": 32, "bitCount": 32, "imageBitCount": 32,
                                                "imageWidth": 32, "imageHeight": 32}])
        self.assertTrue(resources["manifest"])
        self.assertEqual(resources["version"]["ProductName"], "Framelatch")
        self.assertRegex(resources["version"]["FileVersion"], r"^\d+\.\d+\.\d+$")


if __name__ == "__main__":
    unittest.main()
