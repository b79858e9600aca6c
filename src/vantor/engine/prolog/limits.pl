% --- Goal limits: the watchdog arms around a goal and stops it.

% Runs Goal (once) with the watchdog armed: past Seconds, or on the host's
% interrupt, the watchdog throws vantor_stop(Why) into this thread.
% Outcome is true, false, stopped(time | interrupt) or error(E).
bounded(Goal, Seconds, Outcome) :-
    thread_self(Me),
    vantor_arm(Me, Seconds),
    catch(( call(Goal) -> Outcome0 = true ; Outcome0 = false ), E, true),
    vantor_disarm(Fired),
    (   Fired == true
    ->  absorb_stop
    ;   true
    ),
    (   var(E)
    ->  Outcome = Outcome0
    ;   E = vantor_stop(Why)
    ->  Outcome = stopped(Why)
    ;   Outcome = error(E)
    ).


% A stop sent just as the goal ended is still queued for this thread: it is
% taken here, not in whatever this thread runs next.
absorb_stop :-
    absorb_stop(_).

% Why is the reason of the stop taken, if one was pending.
absorb_stop(Why) :-
    catch(forall(between(1, 3, _), sleep(0)), vantor_stop(Why), true).

