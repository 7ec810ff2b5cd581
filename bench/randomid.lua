-- wrk script: getStationById with a random id in 1..N (N is the first
-- argument after "--"), so the load is not served from one hot row.
local n = 1500
function init(args)
    if args[1] then n = tonumber(args[1]) end
    math.randomseed(os.time() + math.floor(os.clock() * 1000000))
end
function request()
    return wrk.format("GET", "/api/nokiaApp/getStationById.php?id=" .. math.random(1, n))
end
