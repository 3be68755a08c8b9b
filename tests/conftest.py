import os
import sys

# The reference model lives beside the tests.
sys.path.insert(0, os.path.dirname(__file__))
