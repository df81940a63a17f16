# Factoid: what a SCORE statement wrote.
title {titleText}
