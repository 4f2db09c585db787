# Install rules of the Windows tree.
