# Factoid: the screening rule and how many effects it kept.
title Screening Information
