# Factoid: the data set, the response and the selection settings.
title Model Information
