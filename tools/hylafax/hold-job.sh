#!/bin/sh
# Stands in for faxsend while the tests run HylaFAX: there is no modem here
# (ttyS0 may well be the machine's console), so a job is held as being sent,
# its queue file and documents in place, until stop.sh ends the scheduler and
# this with it.
exec sleep 86400
