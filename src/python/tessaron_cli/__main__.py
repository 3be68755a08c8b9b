import sys

from tessaron_cli.main import main

sys.exit(main())
