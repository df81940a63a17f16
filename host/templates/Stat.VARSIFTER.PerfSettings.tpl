# Factoid: threading and memory settings of the run.
title Performance Settings
