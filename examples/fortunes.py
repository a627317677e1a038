"""The Python module: a draw from the installed collection, then a fortune file of its own in a
new directory under TMPDIR (appended to, searched, read), a missing file, and nothing left
behind. Usage: python3 fortunes.py   (exit status 0 when every step went as expected)"""

import os
import tempfile

import tallowmere


def main():
    with tempfile.TemporaryDirectory() as directory:
        os.chdir(directory)
        # [guide:python]
        print(tallowmere.Collection().draw(short=True).text)  # or Collection("30%", "a", "b")

        with tallowmere.FortuneFile("mine", writable=True) as mine:
            mine.append("Never trust a quiet printer.")
            print(len(mine), mine[0], mine[-1])

        for fortune in tallowmere.Collection("mine").matches("PRINTER", ignore_case=True):
            print(fortune.path, fortune.number, fortune.text)

        try:
            tallowmere.FortuneFile("missing")
        except tallowmere.Error as error:  # NotFoundError, also a FileNotFoundError
            print(error.reason, error.path)  # "not found", the path
        # [guide:end]
        os.chdir("/")


if __name__ == "__main__":
    main()
